// The drive's standard INQUIRY data: its kind and its vendor, product and revision texts.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "drive/drive_record.h"

namespace drive {

inline constexpr std::uint32_t inquiryReplyBytes = 36;

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

    [[nodiscard]] std::string_view ProductName() const { return productName.data(); }
    [[nodiscard]] std::string_view Vendor() const { return vendor.data(); }
    [[nodiscard]] std::string_view Product() const { return product.data(); }
    [[nodiscard]] std::string_view Revision() const { return revision.data(); }
};

// Decodes a reply; bytes missing from a short reply count as zero.
[[nodiscard]] InquiryResult DecodeInquiry(std::span<const std::uint8_t> reply);

// Asks the drive. A drive that does not answer gives zero fields and empty texts.
void InquireDevice(InquiryResult& result, const DriveRecord& drive);

}  // namespace drive
