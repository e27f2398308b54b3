// Each read form's block layout, checked against the disc's truth.
#include <gtest/gtest.h>

#include "simdrive/description.h"
#include "tests/simdrive/command_runner.h"

namespace simdrive {
namespace {

using testkit::BitSet;
using testkit::Reply;
using testkit::Send;

constexpr uint32_t kFirst = 8;
constexpr uint32_t kCount = 16;

DriveSettings EveryForm() {
    DriveSettings settings;
    settings.vendorD8Forms = {0x00, 0x04};
    settings.densityC2 = true;
    return settings;
}

DiscSpec ScratchedDisc() {
    DiscSpec spec;
    spec.damage.seed = 11;
    spec.damage.scratches.push_back(Scratch{10, 10, 0.05, 4});
    return spec;
}

// Where one sector's audio and C2 bytes lie inside a block of a read form.
struct Layout {
    const char* name;
    uint32_t blockBytes;
    uint32_t audioAt;
    int32_t c2At;  // -1: the form carries no C2 pointers
};

class C2FormTest : public ::testing::TestWithParam<Layout> {
protected:
    Reply ReadForm(Drive& drive, const Layout& layout) {
        const std::string name = layout.name;
        const size_t bytes = size_t{kCount} * layout.blockBytes;
        if (name == "read10-audio" || name == "read10-c2") {
            const uint32_t blockLength = name == "read10-c2" ? 2646 : 2352;
            EXPECT_TRUE(testkit::SelectBlock(drive, 0x82, blockLength).Good());
            return Send(drive, testkit::Read10(kFirst, kCount), Direction::in, bytes);
        }
        if (name.rfind("d8", 0) == 0) {
            const uint8_t form = name == "d8-00" ? 0x00 : 0x04;
            return Send(drive, testkit::ReadD8(kFirst, kCount, form), Direction::in, bytes);
        }
        const uint8_t byte9 = name == "cd-10" ? 0x10 : (name == "cd-12" ? 0x12 : 0x14);
        return Send(drive, testkit::ReadCd(kFirst, kCount, byte9), Direction::in, bytes);
    }
};

TEST_P(C2FormTest, BlocksCarryDamagedAudioAndHonestPointersInPlace) {
    const Layout layout = GetParam();
    Drive drive(EveryForm(), MakePatternDisc(200, 5, ScratchedDisc()));
    const Reply reply = ReadForm(drive, layout);
    ASSERT_TRUE(reply.Good());
    ASSERT_EQ(reply.result.transferred, kCount * layout.blockBytes);
    size_t corruptedBytes = 0;
    for (uint32_t i = 0; i < kCount; ++i) {
        const auto block = std::span(reply.data).subspan(size_t{i} * layout.blockBytes);
        const auto audio = block.subspan(layout.audioAt, kAudioBytes);
        std::vector<uint8_t> clean(kAudioBytes);
        ASSERT_TRUE(drive.ReadCleanAudio(kFirst + i, clean));
        const SectorTruth truth = drive.Truth(kFirst + i);
        for (size_t b = 0; b < kAudioBytes; ++b) {
            const bool differs = audio[b] != clean[b];
            ASSERT_EQ(differs, BitSet(truth.corrupted, b)) << "sector " << i << " byte " << b;
            corruptedBytes += differs ? 1 : 0;
        }
        if (layout.c2At < 0) {
            continue;
        }
        const auto c2 = block.subspan(static_cast<size_t>(layout.c2At), kC2Bytes);
        // Honest drive: the bits flag exactly the wrong bytes, bit 7 of byte 0 for byte 0.
        EXPECT_TRUE(std::equal(c2.begin(), c2.end(), truth.corrupted.begin()));
        if (layout.blockBytes == 2648) {
            uint8_t any = 0;
            for (const uint8_t bits : c2) {
                any |= bits;
            }
            EXPECT_EQ(block[2646], any);
            EXPECT_EQ(block[2647], 0);
        }
    }
    EXPECT_GT(corruptedBytes, 1000u);  // sectors 10..17 lie in the scratch
}

INSTANTIATE_TEST_SUITE_P(
    Forms, C2FormTest,
    ::testing::Values(Layout{"cd-10", 2352, 0, -1}, Layout{"cd-12", 2646, 0, 2352},
                      Layout{"cd-14", 2648, 0, 2352}, Layout{"d8-00", 2352, 0, -1},
                      Layout{"d8-04", 2646, 0, 2352}, Layout{"read10-audio", 2352, 0, -1},
                      Layout{"read10-c2", 2646, 294, 0}),
    [](const auto& info) {
        std::string name = info.param.name;
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    });

TEST(C2SupportTest, UnsupportedFormsAreRejected) {
    DriveSettings settings;
    settings.readCdForms = {0x10, 0x12};
    settings.vendorD8Forms = {};
    auto drive = Drive(settings, MakePatternDisc(50, 1));
    EXPECT_TRUE(Send(drive, testkit::ReadCd(0, 1, 0x14), Direction::in, 2648)
                    .Failed(sense::invalidFieldInCdb));
    EXPECT_TRUE(Send(drive, testkit::ReadCd(0, 1, 0x12), Direction::in, 2646).Good());
    // Sync, header and EDC bits mean nothing for CD-DA and are ignored.
    EXPECT_TRUE(Send(drive, testkit::ReadCd(0, 1, 0xF8), Direction::in, 2352).Good());
    EXPECT_TRUE(Send(drive, testkit::Cdb12(0xBE, 0x08, 0, 1, 0x10, 0), Direction::in, 2352)
                    .Failed(sense::illegalModeForTrack));
    EXPECT_TRUE(Send(drive, testkit::ReadD8(0, 1, 0x04), Direction::in, 2646)
                    .Failed(sense::invalidOperationCode));
    settings.readCdForms = {};
    settings.vendorD8Forms = {0x00};
    auto d8 = Drive(settings, MakePatternDisc(50, 1));
    EXPECT_TRUE(Send(d8, testkit::ReadCd(0, 1, 0x10), Direction::in, 2352)
                    .Failed(sense::invalidOperationCode));
    EXPECT_TRUE(Send(d8, testkit::ReadD8(0, 1, 0x04), Direction::in, 2646)
                    .Failed(sense::invalidFieldInCdb));
    EXPECT_TRUE(Send(d8, testkit::ReadD8(0, 1, 0x02), Direction::in, 2646)
                    .Failed(sense::invalidFieldInCdb));
    EXPECT_TRUE(Send(d8, testkit::ReadD8(0, 1, 0x00), Direction::in, 2352).Good());
}

TEST(ReadRangeTest, LastSectorReadsAndLeadOutIsOutOfRange) {
    Drive drive(EveryForm(), MakePatternDisc(50, 1));
    EXPECT_TRUE(Send(drive, testkit::ReadCd(49, 1, 0x12), Direction::in, 2646).Good());
    EXPECT_TRUE(Send(drive, testkit::ReadCd(40, 11, 0x12), Direction::in, 11 * 2646)
                    .Failed(sense::lbaOutOfRange));
    EXPECT_TRUE(Send(drive, testkit::ReadD8(0xFFFFFFFF, 1, 0x00), Direction::in, 2352)
                    .Failed(sense::lbaOutOfRange));
    const Reply none = Send(drive, testkit::ReadCd(0, 0, 0x12), Direction::in, 0);
    EXPECT_TRUE(none.Good());
    EXPECT_EQ(none.result.transferred, 0u);
}

TEST(ReadRangeTest, ReadTenNeedsAudioBlockLength) {
    Drive drive(EveryForm(), MakePatternDisc(50, 1));
    EXPECT_TRUE(
        Send(drive, testkit::Read10(0, 1), Direction::in, 2048).Failed(sense::illegalModeForTrack));
    ASSERT_TRUE(testkit::SelectBlock(drive, 0x00, 2352).Good());
    EXPECT_TRUE(Send(drive, testkit::Read10(0, 1), Direction::in, 2352).Good());
}

}  // namespace
}  // namespace simdrive
