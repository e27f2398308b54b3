// Base64 (RFC 4648, the standard alphabet, padded), so binary evidence travels inside JSON.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace report {

[[nodiscard]] std::string Base64Encode(std::span<const std::uint8_t> bytes);

// Strict: none for a length not a multiple of 4, a character outside the alphabet, padding
// anywhere but the end, or padding bits that are not zero (so each text has one meaning).
[[nodiscard]] std::optional<std::vector<std::uint8_t>> Base64Decode(std::string_view text);

}  // namespace report
