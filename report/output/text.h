// Number and time texts of the report.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace report {

// 1234567 -> "1,234,567".
[[nodiscard]] std::string Grouped(std::uint64_t value);
// 6 -> "+6", -1164 -> "-1164", 0 -> "0".
[[nodiscard]] std::string SignedNumber(std::int64_t value);
// "mm:ss:ff" (minutes, seconds, sector frames of 1/75 s) of a sector address.
[[nodiscard]] std::string SectorTime(std::int64_t sector);
// & < > " as entities, for text in XML and HTML.
[[nodiscard]] std::string XmlEscape(const std::string& text);
// {0x05, 0x8e} -> "058e".
[[nodiscard]] std::string LowerHex(std::span<const std::uint8_t> bytes);

}  // namespace report
