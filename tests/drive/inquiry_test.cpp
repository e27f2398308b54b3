// Decoding of INQUIRY replies, and the inquiry of a drive that does not answer.
#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

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

// Bytes 36-55 stand as they are, blanks and all, only when every one is printable.
TEST(InquiryFields, VendorSpecificBytesArePrintableAsciiOrNothing) {
    std::array<std::uint8_t, 56> reply{};
    const std::string stamp = "2005/03/14 BUILD 7  ";
    std::copy(stamp.begin(), stamp.end(), reply.begin() + 36);
    EXPECT_EQ(drive::DecodeInquiry(reply).VendorSpecific(), stamp);
    for (const std::uint8_t odd : {0x00, 0x1F, 0x7F, 0xE9}) {
        reply[55] = odd;
        EXPECT_EQ(drive::DecodeInquiry(reply).VendorSpecific(), std::nullopt) << int{odd};
    }
    EXPECT_EQ(drive::DecodeInquiry(std::span(reply).first(36)).VendorSpecific(), std::nullopt);
}

struct SerialCase {
    std::vector<std::uint8_t> reply;
    std::optional<std::string> serial;
};

class UnitSerials : public testing::TestWithParam<SerialCase> {};

TEST_P(UnitSerials, DecodeOnlyThePageOfPrintableText) {
    EXPECT_EQ(drive::DecodeUnitSerial(GetParam().reply, {}), GetParam().serial);
}

// Additional length 0x5B reads as "[", the next byte as NUL padding: only telling the reply
// from the standard data keeps this drive from a serial it does not have.
TEST(UnitSerial, AReplyThatIsTheStandardDataAgainIsNoSerial) {
    std::array<std::uint8_t, 56> standard{0x05, 0x80, 0x00, 0x02, 0x5B};
    EXPECT_EQ(drive::DecodeUnitSerial(standard, {}), "[");
    EXPECT_EQ(drive::DecodeUnitSerial(standard, standard), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, UnitSerials,
    testing::Values(SerialCase{{0x05, 0x80, 0, 6, ' ', 'A', '1', ' ', 'B', ' '}, "A1 B"},
                    SerialCase{{0x05, 0x80, 0, 5, 'X', '9', 0, 0, 0}, "X9"},  // NUL padding
                    SerialCase{{0x05, 0x80, 0, 9, 'S', 'N'}, "SN"},  // length past the reply
                    SerialCase{{0x05, 0x80, 0, 3, ' ', ' ', ' '}, std::nullopt},  // blank
                    SerialCase{{0x05, 0x80, 0, 0}, std::nullopt},                 // empty
                    SerialCase{{0x05, 0x80, 0, 2, 'A', 0x07}, std::nullopt},      // not printable
                    SerialCase{{0x05, 0x00, 0, 2, 'A', 'B'}, std::nullopt},       // another page
                    SerialCase{{0x05, 0x80, 0x05, 31, 'S', 'I', 'M'},
                               std::nullopt},  // standard data
                    SerialCase{{0x05, 0x80, 0}, std::nullopt}));

// Through the native path to the simulated drive: the page when it has a serial, else none;
// the bus as the OS tells it, for the device at the record's address only.
TEST_F(NativeLayerTest, SerialPageAndBusOfEachDrive) {
    simdrive::DriveSettings settings;
    settings.serial = "  UNIT 7 ";
    drives_.push_back(std::make_unique<simdrive::Drive>(settings));
    SimulatedDevice device;
    device.path = "/dev/sim0";
    device.drive = drives_.back().get();
    device.address = At(0, 0);
    device.bus = drive::native::Bus::usb;
    os_.devices.push_back(device);
    AddDevice(At(0, 1), "NONE").bus = drive::native::Bus::ata;
    ASSERT_EQ(Start(), drive::TransportKind::native);
    EXPECT_EQ(drive::InquireUnitSerial({0, 0, 0}), "UNIT 7");
    EXPECT_EQ(drive::InquireUnitSerial({0, 1, 0}), std::nullopt);
    EXPECT_EQ(drive::DriveBus({0, 0, 0}), drive::native::Bus::usb);
    EXPECT_EQ(drive::DriveBus({0, 1, 0}), drive::native::Bus::ata);
    EXPECT_EQ(drive::DriveBus({0, 2, 0}), drive::native::Bus::unknown);
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
