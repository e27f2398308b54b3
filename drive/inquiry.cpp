#include "drive/inquiry.h"

#include <algorithm>

#include "drive/aspi_proc.h"

namespace drive {
namespace {

constexpr std::array<std::uint8_t, 6> inquiryCommand{0x12, 0x00, 0x00, 0x00, inquiryReplyBytes,
                                                     0x00};

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
    return result;
}

void InquireDevice(InquiryResult& result, const DriveRecord& drive) {
    ScsiCommand command;
    command.cdb = inquiryCommand;
    command.direction = DataDirection::in;
    command.transferLength = inquiryReplyBytes;
    // A drive that does not answer must leave nothing of an earlier reply behind.
    command.clearDataBytes = inquiryReplyBytes;
    (void)CommandCycle(drive, command,
                       [&](const CommandResult&, std::span<const std::uint8_t> reply) {
                           result = DecodeInquiry(reply);
                       });
}

}  // namespace drive
