// Output file names made from the drive's identification.
#pragma once

#include <array>
#include <span>
#include <string_view>

namespace extract {

inline constexpr std::size_t nameBufferSize = 512;
using NameBuffer = std::array<char, nameBufferSize>;

// Removes every space, then replaces each of \ " / * ' : > < | and every control character
// (below 0x20, and 0x7F) by a hyphen, in place, up to the text's NUL.
void SanitizeFileName(std::span<char> text);

struct OutputNames {
    NameBuffer wav{};  // "<sanitised identification>.wav"
    NameBuffer c2{};   // "<sanitised identification>.c2"
};

// `suffix` goes between the name and the ending, as given (a study's ".d8.8x").
[[nodiscard]] OutputNames MakeOutputNames(std::string_view productName,
                                          std::string_view suffix = {});

}  // namespace extract
