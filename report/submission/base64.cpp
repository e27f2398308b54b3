#include "report/submission/base64.h"

#include <array>

namespace report {
namespace {

constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::uint8_t kNotInAlphabet = 0xFF;

constexpr std::array<std::uint8_t, 256> DigitValues() {
    std::array<std::uint8_t, 256> values{};
    values.fill(kNotInAlphabet);
    for (std::size_t i = 0; i < kAlphabet.size(); ++i) {
        values[static_cast<std::uint8_t>(kAlphabet[i])] = static_cast<std::uint8_t>(i);
    }
    return values;
}

constexpr std::array<std::uint8_t, 256> kDigitValues = DigitValues();

}  // namespace

std::string Base64Encode(std::span<const std::uint8_t> bytes) {
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t left = bytes.size() - i;
        std::uint32_t group = std::uint32_t{bytes[i]} << 16;
        group |= left > 1 ? std::uint32_t{bytes[i + 1]} << 8 : 0;
        group |= left > 2 ? std::uint32_t{bytes[i + 2]} : 0;
        text.push_back(kAlphabet[group >> 18]);
        text.push_back(kAlphabet[(group >> 12) & 63]);
        text.push_back(left > 1 ? kAlphabet[(group >> 6) & 63] : '=');
        text.push_back(left > 2 ? kAlphabet[group & 63] : '=');
    }
    return text;
}

std::optional<std::vector<std::uint8_t>> Base64Decode(std::string_view text) {
    if (text.size() % 4 != 0) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        const std::size_t padding = !last ? 0 : text[i + 3] != '=' ? 0 : text[i + 2] != '=' ? 1 : 2;
        std::uint32_t group = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            const std::uint8_t value = kDigitValues[static_cast<std::uint8_t>(text[i + k])];
            if (k >= 4 - padding) {
                continue;
            }
            if (value == kNotInAlphabet) {
                return std::nullopt;
            }
            group |= std::uint32_t{value} << (18 - 6 * k);
        }
        const std::uint32_t unusedBits = padding == 0 ? 0 : padding == 1 ? 0xFF : 0xFFFF;
        if ((group & unusedBits) != 0) {
            return std::nullopt;
        }
        bytes.push_back(static_cast<std::uint8_t>(group >> 16));
        if (padding < 2) {
            bytes.push_back(static_cast<std::uint8_t>(group >> 8));
        }
        if (padding < 1) {
            bytes.push_back(static_cast<std::uint8_t>(group));
        }
    }
    return bytes;
}

}  // namespace report
