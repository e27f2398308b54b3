// The C2 wire layouts, their split into audio and C2 records, the capabilities bit and the
// model-name rule, without a drive.
#include "audio/c2_decode.h"

#include <gtest/gtest.h>

#include <vector>

#include "audio/commands.h"
#include "tests/audio/reply_builder.h"

namespace {

using audio_testing::Reply;

// A wire transfer of `count` blocks in `method`'s layout whose audio byte j of sector i is
// (i * 7 + j) mod 251 and whose pointer byte k is `pointer(i, k)`; the drive's own block
// error and pad bytes (mode 0) are 0xEE.
template <typename Pointer>
std::vector<std::byte> Wire(std::int32_t method, std::int32_t count, Pointer pointer) {
    const audio::C2WireForm form = audio::WireFormOf(method);
    std::vector<std::byte> wire(form.blockBytes * static_cast<std::size_t>(count), std::byte{0xEE});
    for (std::size_t i = 0; i < static_cast<std::size_t>(count); ++i) {
        const std::size_t block = i * form.blockBytes;
        for (std::size_t j = 0; j < audio::audioBytesPerSector; ++j) {
            wire[block + form.audioAt + j] = std::byte((i * 7 + j) % 251);
        }
        for (std::size_t k = 0; k < audio::c2PointerBytes; ++k) {
            wire[block + form.c2At + k] = std::byte(pointer(i, k));
        }
    }
    return wire;
}

TEST(C2WireForm, BlockSizesAndWhereAudioAndPointersLie) {
    const audio::C2WireForm mode0 = audio::WireFormOf(0);
    EXPECT_EQ(mode0.blockBytes, 2648u);
    EXPECT_EQ(mode0.audioAt, 0u);
    EXPECT_EQ(mode0.c2At, 2352u);
    for (const std::int32_t method : {1, 3, 7}) {
        const audio::C2WireForm form = audio::WireFormOf(method);
        EXPECT_EQ(form.blockBytes, 2646u);
        EXPECT_EQ(form.audioAt, 0u);
        EXPECT_EQ(form.c2At, 2352u);
    }
    // After the density switch each block carries its pointers first.
    const audio::C2WireForm mode2 = audio::WireFormOf(2);
    EXPECT_EQ(mode2.blockBytes, 2646u);
    EXPECT_EQ(mode2.audioAt, 294u);
    EXPECT_EQ(mode2.c2At, 0u);
}

class C2Split : public testing::TestWithParam<std::int32_t> {};

TEST_P(C2Split, EverySectorGetsItsOwnAudioAndPointersWithTheirOr) {
    const std::int32_t method = GetParam();
    constexpr std::int32_t count = 3;
    // Sector 0 clean, sector 1 one bit in its last pointer byte, sector 2 several bytes.
    const auto pointer = [](std::size_t i, std::size_t k) -> std::uint8_t {
        if (i == 1) {
            return k == 293 ? 0x01 : 0;
        }
        return i == 2 && k % 50 == 0 ? static_cast<std::uint8_t>(0x80 >> (k / 50)) : 0;
    };
    const std::vector<std::byte> wire = Wire(method, count, pointer);
    std::vector<std::byte> audioOut(count * 2352, std::byte{0x55});
    std::vector<std::byte> c2Out(9408, std::byte{0x55});
    audio::SplitC2Transfer(method, wire, count, c2Out, audioOut);
    for (std::size_t i = 0; i < count; ++i) {
        for (std::size_t j = 0; j < 2352; ++j) {
            ASSERT_EQ(audioOut[i * 2352 + j], std::byte((i * 7 + j) % 251)) << i << " " << j;
        }
        for (std::size_t k = 0; k < 294; ++k) {
            ASSERT_EQ(c2Out[i * 296 + k], std::byte(pointer(i, k))) << i << " " << k;
        }
        EXPECT_EQ(c2Out[i * 296 + 295], std::byte{0}) << i;
    }
    EXPECT_EQ(c2Out[294], std::byte{0x00});
    EXPECT_EQ(c2Out[296 + 294], std::byte{0x01});
    EXPECT_EQ(c2Out[2 * 296 + 294], std::byte{0xFC});  // 0x80|0x40|0x20|0x10|0x08|0x04
    EXPECT_EQ(c2Out[3 * 296], std::byte{0x55});        // nothing past the last record
}

INSTANTIATE_TEST_SUITE_P(AllModes, C2Split, testing::Values(0, 1, 2, 3));

TEST(C2Split, ModeZeroReplacesTheDrivesBlockErrorAndPadBytes) {
    const std::vector<std::byte> wire = Wire(0, 1, [](std::size_t, std::size_t) { return 0; });
    ASSERT_EQ(wire[2352 + 294], std::byte{0xEE});
    std::vector<std::byte> audioOut(2352);
    std::vector<std::byte> c2Out(296, std::byte{0x77});
    audio::SplitC2Transfer(0, wire, 1, c2Out, audioOut);
    EXPECT_EQ(c2Out[294], std::byte{0});
    EXPECT_EQ(c2Out[295], std::byte{0});
}

TEST(C2Split, ZeroSectorsWriteNothing) {
    std::vector<std::byte> audioOut(2352, std::byte{0x55});
    std::vector<std::byte> c2Out(296, std::byte{0x55});
    audio::SplitC2Transfer(0, {}, 0, c2Out, audioOut);
    EXPECT_EQ(audioOut, std::vector<std::byte>(2352, std::byte{0x55}));
    EXPECT_EQ(c2Out, std::vector<std::byte>(296, std::byte{0x55}));
}

TEST(C2SplitDeathTest, ARecordPastTheC2BufferIsAProgrammingError) {
    const std::vector<std::byte> wire = Wire(1, 2, [](std::size_t, std::size_t) { return 0; });
    std::vector<std::byte> audioOut(2 * 2352);
    std::vector<std::byte> c2Out(296 + 295);  // one byte short of the second record
    EXPECT_EXIT(audio::SplitC2Transfer(1, wire, 2, c2Out, audioOut), testing::ExitedWithCode(255),
                "-> INDEX-RANGE");
    std::vector<std::byte> c2Enough(2 * 296);
    std::vector<std::byte> audioShort(2 * 2352 - 1);
    EXPECT_EXIT(audio::SplitC2Transfer(1, wire, 2, c2Enough, audioShort),
                testing::ExitedWithCode(255), "-> INDEX-RANGE");
}

// MODE SENSE replies with the capabilities page behind `descriptorBytes` of block descriptor.
Reply Sense6(std::uint8_t descriptorBytes, std::uint8_t byte5) {
    Reply reply(34);
    reply.Put(3, {descriptorBytes});
    reply.Put(4 + descriptorBytes, {0x2A, 0x14, 0, 0, 0, byte5});
    return reply;
}

Reply Sense10(std::uint8_t descriptorBytes, std::uint8_t byte5) {
    Reply reply(38);
    reply.Put(7, {descriptorBytes});
    reply.Put(8 + descriptorBytes, {0x2A, 0x14, 0, 0, 0, byte5});
    return reply;
}

TEST(CapabilityBit, ReadFromThePageAfterTheHeaderAndBlockDescriptors) {
    EXPECT_EQ(audio::CapabilityBitOfSense6(Sense6(0, 0x10).Bytes(), 4, 5), true);
    EXPECT_EQ(audio::CapabilityBitOfSense6(Sense6(0, 0xEF).Bytes(), 4, 5), false);
    EXPECT_EQ(audio::CapabilityBitOfSense6(Sense6(8, 0x10).Bytes(), 4, 5), true);
    EXPECT_EQ(audio::CapabilityBitOfSense6(Sense6(8, 0x01).Bytes(), 0, 5), true);
    EXPECT_EQ(audio::CapabilityBitOfSense10(Sense10(0, 0x10).Bytes(), 4, 5), true);
    EXPECT_EQ(audio::CapabilityBitOfSense10(Sense10(8, 0x00).Bytes(), 4, 5), false);
}

TEST(CapabilityBit, APageOutsideTheReplyTellsNothing) {
    Reply reply(34);
    reply.Put(3, {200});
    EXPECT_EQ(audio::CapabilityBitOfSense6(reply.Bytes(), 4, 5), std::nullopt);
    Reply reply10(38);
    reply10.Put(7, {40});
    EXPECT_EQ(audio::CapabilityBitOfSense10(reply10.Bytes(), 4, 5), std::nullopt);
}

struct NameCase {
    const char* name;
    const char* productName;
    bool matches;
};

void PrintTo(const NameCase& c, std::ostream* os) {
    *os << c.name;
}

class C2WithoutBlockErrorName : public testing::TestWithParam<NameCase> {};

TEST_P(C2WithoutBlockErrorName, ComparesUpperCasedUpToTheShorter) {
    EXPECT_EQ(audio::HasC2WithoutBlockErrorName(GetParam().productName), GetParam().matches);
}

INSTANTIATE_TEST_SUITE_P(Cases, C2WithoutBlockErrorName,
                         testing::Values(NameCase{"Exact", "PLEXTOR CD-R   PX-W4824A", true},
                                         NameCase{"LowerCase", "plextor cd-r   px-w4824a", true},
                                         NameCase{"MixedCase", "Plextor Cd-R PREMIUM", true},
                                         NameCase{"ShorterAgreeing", "PLEXTOR", true},
                                         NameCase{"ShorterAgreeingLowerCase", "plextor cd", true},
                                         NameCase{"ExactlyThePrefix", "PLEXTOR CD-R ", true},
                                         NameCase{"Empty", "", false},
                                         NameCase{"ShorterDiffering", "PLEXTOX", false},
                                         NameCase{"NoBlankAfterCdR", "PLEXTOR CD-ROM PX-40", false},
                                         NameCase{"OtherVendor", "SIMDRIVE ALL C2 FORMS", false},
                                         NameCase{"DvdDrive", "PLEXTOR DVDR   PX-716A", false}),
                         [](const testing::TestParamInfo<NameCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
