// The command line as one text, the way the programs split it into arguments themselves.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace runtime {

// Copies the command line without the program name into `buffer`, NUL-terminated when room.
void CommandTail(std::span<char> buffer);

// Joins arguments into one tail so that splitting it at spaces, with double quotes grouping,
// gives back the same arguments: an argument that is empty or holds a space is quoted.
void BuildCommandTail(std::span<const char* const> arguments, std::span<char> buffer);

// A whole command line as Windows hands it over, less the program name: leading spaces, the
// name (to the closing double quote when it starts with one, else to the next space) and the
// spaces after it are skipped.
[[nodiscard]] std::string_view TailAfterProgramName(std::string_view commandLine);

// Copies `tail` into `buffer`, at most its size, NUL-terminated when there is room.
void CopyCommandTail(std::string_view tail, std::span<char> buffer);

// Decimal text to int32: optional leading spaces and one sign, then digits to the end.
// `value` always receives what was accumulated; true only when the whole text was a number
// that fits.
[[nodiscard]] bool StrToInt(std::string_view text, std::int32_t& value);

}  // namespace runtime
