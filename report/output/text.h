// Number and time texts of the report.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace report {

// 1234567 -> "1,234,567".
[[nodiscard]] std::string Grouped(std::uint64_t value);
// 6 -> "+6", -1164 -> "-1164", 0 -> "0".
[[nodiscard]] std::string SignedNumber(std::int64_t value);
// 0.0123 -> "1.23 %"; none -> "n/a".
[[nodiscard]] std::string RateText(std::optional<double> rate);
// 1.5 -> "1.500"; with `decimals` 6, "1.500000".
[[nodiscard]] std::string Decimals(double value, int decimals = 3);
// "mm:ss:ff" (minutes, seconds, sector frames of 1/75 s) of a sector address.
[[nodiscard]] std::string SectorTime(std::int64_t sector);
// & < > " as entities, for text in XML and HTML.
[[nodiscard]] std::string XmlEscape(const std::string& text);
// A CSV field: quoted when it holds a comma, a quote or a line end; text a spreadsheet would
// take for a formula (starting with = + - @, a tab or a carriage return) is quoted behind a '.
[[nodiscard]] std::string CsvField(const std::string& text);
// Text from a file made safe for a terminal: control characters (C0, DEL and C1, such as ESC
// or a carriage return) shown as \xNN or \u00NN, the rest kept. "\n" stays when `keepLines`.
[[nodiscard]] std::string ConsoleText(std::string_view text, bool keepLines = false);
// A file name for a message: in double quotes, made safe for a terminal.
[[nodiscard]] std::string Quoted(std::string_view path);

}  // namespace report
