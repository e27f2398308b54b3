#include "drive/inquiry.h"

#include <algorithm>
#include <string_view>

#include "drive/aspi_proc.h"

namespace drive {
namespace {

constexpr std::array<std::uint8_t, 6> inquiryCommand{0x12, 0x00, 0x00, 0x00, inquiryReplyBytes,
                                                     0x00};
constexpr std::uint8_t unitSerialPage = 0x80;
constexpr std::array<std::uint8_t, 6> unitSerialCommand{
    0x12, 0x01, unitSerialPage, 0x00, static_cast<std::uint8_t>(serialPageReplyBytes), 0x00};
constexpr std::size_t vendorSpecificFirst = 36;
constexpr std::size_t vendorSpecificBytes = 20;

// Copies reply bytes [first, first + count) and drops the blanks at the end; the rest of the
// field stays NUL.
template <std::size_t size>
void CopyTrimmed(std::array<char, size>& text, std::span<const std::uint8_t> reply,
                 std::size_t first, std::size_t count) {
    static_assert(size > 0);
    text.fill('\0');
    std::size_t length = count;
    while (length > 0 && reply[first + length - 1] == ' ') {
        --length;
    }
    std::copy_n(reply.begin() + static_cast<std::ptrdiff_t>(first), length, text.begin());
}

bool PrintableAscii(std::span<const std::uint8_t> bytes) {
    return std::all_of(bytes.begin(), bytes.end(),
                       [](std::uint8_t byte) { return byte >= 0x20 && byte <= 0x7E; });
}

// The standard data; zeros from a drive that does not answer, so that nothing of an earlier
// reply stays behind.
std::array<std::uint8_t, inquiryReplyBytes> StandardReply(const DriveRecord& drive) {
    std::array<std::uint8_t, inquiryReplyBytes> standard{};
    ScsiCommand command;
    command.cdb = inquiryCommand;
    command.direction = DataDirection::in;
    command.transferLength = inquiryReplyBytes;
    command.clearDataBytes = inquiryReplyBytes;
    (void)CommandCycle(drive, command,
                       [&](const CommandResult&, std::span<const std::uint8_t> reply) {
                           std::copy(reply.begin(), reply.end(), standard.begin());
                       });
    return standard;
}

}  // namespace

InquiryResult DecodeInquiry(std::span<const std::uint8_t> reply) {
    std::array<std::uint8_t, inquiryReplyBytes> bytes{};
    std::copy_n(reply.begin(), std::min(reply.size(), bytes.size()), bytes.begin());
    InquiryResult result;
    result.peripheralType = bytes[0] & 0x1F;
    result.peripheralQualifier = static_cast<std::uint8_t>(bytes[0] >> 5);
    result.removable = bytes[1] >= 0x80;
    result.ansiVersion = bytes[2] & 0x07;
    CopyTrimmed(result.productName, bytes, 8, 24);
    CopyTrimmed(result.revision, bytes, 32, 4);
    CopyTrimmed(result.vendor, bytes, 8, 8);
    CopyTrimmed(result.product, bytes, 16, 16);
    const auto vendorSpecific = std::span(bytes).subspan(vendorSpecificFirst, vendorSpecificBytes);
    if (PrintableAscii(vendorSpecific)) {
        std::copy(vendorSpecific.begin(), vendorSpecific.end(), result.vendorSpecific.begin());
    }
    return result;
}

void InquireDevice(InquiryResult& result, const DriveRecord& drive) {
    result = DecodeInquiry(StandardReply(drive));
}

std::optional<std::string> DecodeUnitSerial(std::span<const std::uint8_t> reply,
                                            std::span<const std::uint8_t> standard) {
    constexpr std::size_t header = 4;
    constexpr std::size_t standardBytes = 36;
    const bool standardAgain =
        standard.size() >= standardBytes && reply.size() >= standardBytes &&
        std::equal(standard.begin(), standard.begin() + standardBytes, reply.begin());
    if (reply.size() < header || reply[1] != unitSerialPage || reply[2] != 0 || standardAgain) {
        return std::nullopt;
    }
    auto serial = reply.subspan(header, std::min<std::size_t>(reply[3], reply.size() - header));
    while (!serial.empty() && serial.back() == 0) {
        serial = serial.first(serial.size() - 1);  // some drives pad with NULs, not blanks
    }
    if (!PrintableAscii(serial)) {
        return std::nullopt;
    }
    std::string_view text(reinterpret_cast<const char*>(serial.data()), serial.size());
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) {
        return std::nullopt;
    }
    text = text.substr(first, text.find_last_not_of(' ') - first + 1);
    return std::string(text);
}

std::optional<std::string> InquireUnitSerial(const DriveRecord& drive) {
    const auto standard = StandardReply(drive);
    ScsiCommand command;
    command.cdb = unitSerialCommand;
    command.direction = DataDirection::in;
    command.transferLength = serialPageReplyBytes;
    command.clearDataBytes = serialPageReplyBytes;
    std::optional<std::string> serial;
    (void)CommandCycle(drive, command,
                       [&](const CommandResult& result, std::span<const std::uint8_t> reply) {
                           if (result.Succeeded()) {
                               serial = DecodeUnitSerial(reply, standard);
                           }
                       });
    return serial;
}

}  // namespace drive
