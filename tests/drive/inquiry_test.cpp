// Decoding of INQUIRY replies, and the inquiry of a drive that does not answer.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "drive/inquiry.h"
#include "tests/drive/drive_fixture.h"

namespace drive_tests {
namespace {

std::array<std::uint8_t, 36> Reply(std::uint8_t peripheral, std::uint8_t removable,
                                   const std::string& identification) {
    std::array<std::uint8_t, 36> reply{};
    reply[0] = peripheral;
    reply[1] = removable;
    reply[2] = 0x05;
    for (std::size_t i = 0; i < identification.size() && i < 28; ++i) {
        reply[8 + i] = static_cast<std::uint8_t>(identification[i]);
    }
    return reply;
}

struct NameCase {
    const char* identification;  // vendor (8), product (16), revision (4)
    const char* productName;
    const char* revision;
};

class InquiryNames : public testing::TestWithParam<NameCase> {};

TEST_P(InquiryNames, TrailingBlanksGoBlanksInsideStay) {
    const auto result = drive::DecodeInquiry(Reply(0x05, 0x80, GetParam().identification));
    EXPECT_EQ(result.ProductName(), GetParam().productName);
    EXPECT_EQ(result.Revision(), GetParam().revision);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, InquiryNames,
    testing::Values(NameCase{"PLEXTOR CD-R   PX-W4824A1.07", "PLEXTOR CD-R   PX-W4824A", "1.07"},
                    NameCase{"VENDOR  CD-RW/DVD 8X    1.0 ", "VENDOR  CD-RW/DVD 8X", "1.0"},
                    NameCase{"ABCDEFGH0123456789ABCDEFWXYZ", "ABCDEFGH0123456789ABCDEF", "WXYZ"},
                    NameCase{"                            ", "", ""},
                    NameCase{"AB\x01\xE9    CD              ", "AB\x01\xE9    CD", ""}));

TEST(InquiryFields, PeripheralByteRemovableBitAndVersion) {
    auto result = drive::DecodeInquiry(Reply(0x05, 0x80, ""));
    EXPECT_EQ(result.peripheralType, 5);
    EXPECT_EQ(result.peripheralQualifier, 0);
    EXPECT_TRUE(result.removable);
    EXPECT_EQ(result.ansiVersion, 5);
    result = drive::DecodeInquiry(Reply(0x65, 0x7F, ""));
    EXPECT_EQ(result.peripheralType, 5);
    EXPECT_EQ(result.peripheralQualifier, 3);
    EXPECT_FALSE(result.removable);
}

TEST(InquiryFields, AShortReplyCountsItsMissingBytesAsZero) {
    const std::array<std::uint8_t, 12> reply{0x05, 0x80, 0x02, 0, 0, 0, 0, 0, 'A', 'B', 'C', 'D'};
    const auto result = drive::DecodeInquiry(reply);
    EXPECT_EQ(result.ProductName(), "ABCD");
    EXPECT_EQ(result.Revision(), "");
}

TEST_F(NativeLayerTest, ADriveThatDoesNotAnswerGivesNothingOfAnEarlierReply) {
    AddDevice(At(0, 0), "SPEAKS");
    AddDevice(At(0, 1)).passThroughFails = true;
    ASSERT_EQ(Start(), drive::TransportKind::native);
    drive::InquiryResult result;
    drive::InquireDevice(result, {0, 0, 0});
    EXPECT_EQ(result.ProductName(), "SIMDRIVESPEAKS");
    EXPECT_EQ(result.Revision(), "1.00");
    drive::InquireDevice(result, {0, 1, 0});
    EXPECT_EQ(result.peripheralType, 0);
    EXPECT_EQ(result.ProductName(), "");
    EXPECT_EQ(result.Revision(), "");
}

}  // namespace
}  // namespace drive_tests
