// Splitting Quellor's command tail into arguments: runs of spaces separate them, and a
// double quote opens a stretch, up to the next one, in which spaces do not.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace extract {

// The number of arguments in `text` (up to its first NUL).
[[nodiscard]] std::int32_t ArgumentCount(std::string_view text);

// Copies argument n (from 1) without its quote characters into `out`, cut to leave room for
// the NUL that always ends it. An argument that does not exist gives an empty text.
void GetArgument(std::string_view text, std::int32_t n, std::span<char> out);

}  // namespace extract
