#include "runtime/sha256.h"

namespace runtime {

std::string Sha256Hex(std::span<const std::uint8_t> bytes) {
    Sha256 sha;
    sha.Update(bytes);
    return sha.FinalHex();
}

std::string LowerHex(std::span<const std::uint8_t> bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    for (const std::uint8_t b : bytes) {
        text.push_back(digits[b >> 4]);
        text.push_back(digits[b & 15]);
    }
    return text;
}

}  // namespace runtime
