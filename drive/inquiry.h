// The drive's standard INQUIRY data: its kind and its vendor, product and revision texts; and
// its Unit Serial Number page.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "drive/drive_record.h"

namespace drive {

// Through the vendor-specific bytes 36-55, which some drives fill with a firmware date or build.
inline constexpr std::uint32_t inquiryReplyBytes = 56;
inline constexpr std::uint32_t serialPageReplyBytes = 255;

struct InquiryResult {
    std::int32_t peripheralType = 0;  // 5: CD-ROM
    std::uint8_t peripheralQualifier = 0;
    bool removable = false;
    std::uint8_t ansiVersion = 0;
    // Vendor (8 bytes, its own trailing blanks kept) then product (16 bytes), trailing blanks
    // of the whole removed; NUL-terminated.
    std::array<char, 65> productName{};
    std::array<char, 16> revision{};  // 4 bytes, trailing blanks removed; NUL-terminated
    std::array<char, 9> vendor{};     // bytes 8-15 alone, trailing blanks removed
    std::array<char, 17> product{};   // bytes 16-31 alone, trailing blanks removed
    // Bytes 36-55 as they stand when every one is printable ASCII; NUL-terminated, else empty.
    std::array<char, 21> vendorSpecific{};

    [[nodiscard]] std::string_view ProductName() const { return productName.data(); }
    [[nodiscard]] std::string_view Vendor() const { return vendor.data(); }
    [[nodiscard]] std::string_view Product() const { return product.data(); }
    [[nodiscard]] std::string_view Revision() const { return revision.data(); }
    [[nodiscard]] std::optional<std::string_view> VendorSpecific() const {
        return vendorSpecific[0] != '\0' ? std::optional<std::string_view>(vendorSpecific.data())
                                         : std::nullopt;
    }
};

// Decodes a reply; bytes missing from a short reply count as zero.
[[nodiscard]] InquiryResult DecodeInquiry(std::span<const std::uint8_t> reply);

// Asks the drive. A drive that does not answer gives zero fields and empty texts.
void InquireDevice(InquiryResult& result, const DriveRecord& drive);

// The serial number of a Unit Serial Number page (0x80) reply, blanks around it removed; none
// when the reply is not that page, or the serial is empty or not printable ASCII. A drive that
// ignores the page bit answers with its standard data (`standard`), whose byte 1 can read 0x80
// too: a reply that begins as the standard data does is none either.
[[nodiscard]] std::optional<std::string> DecodeUnitSerial(std::span<const std::uint8_t> reply,
                                                          std::span<const std::uint8_t> standard);

// Asks the drive for its Unit Serial Number page; none when it has none or does not answer.
[[nodiscard]] std::optional<std::string> InquireUnitSerial(const DriveRecord& drive);

}  // namespace drive
