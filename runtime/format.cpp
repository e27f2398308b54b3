#include "runtime/format.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace runtime {
namespace {

// Right-aligns `digits` in a field of `width` spaces.
FormattedNumber Pad(std::string_view digits, std::int32_t width) {
    FormattedNumber out;
    const std::size_t field = std::min<std::size_t>(
        std::max<std::size_t>(digits.size(), static_cast<std::size_t>(std::max(width, 0))),
        formattedCapacity);
    const std::size_t padding = field - std::min(digits.size(), field);
    std::fill_n(out.chars.begin(), padding, ' ');
    std::copy_n(digits.begin(), field - padding, out.chars.begin() + padding);
    out.size = field;
    return out;
}

}  // namespace

FormattedNumber FormatInt(std::int64_t value, std::int32_t width) {
    std::array<char, 24> digits{};
    const int length =
        std::snprintf(digits.data(), digits.size(), "%lld", static_cast<long long>(value));
    return Pad({digits.data(), static_cast<std::size_t>(length)}, width);
}

FormattedNumber FormatFixed(double value, std::int32_t places, std::int32_t width,
                            Dialect dialect) {
    places = std::clamp(places, 0, 20);
    std::array<char, formattedCapacity> digits{};
    std::size_t length = 0;
    if (dialect == Dialect::quellor && width == 0) {
        digits[length++] = ' ';
    }
    int written = 0;
    if (std::isfinite(value)) {
        // Round half up on the magnitude, then cut: the scaled, floored value is an exact
        // count of units of the last place, which %f prints without further rounding.
        const long double scale = std::pow(10.0L, places);
        const long double magnitude = std::fabs(static_cast<long double>(value));
        const long double units = std::floor((magnitude + 0.5L / scale) * scale);
        const bool negative = value < 0 && units > 0;
        written = std::snprintf(digits.data() + length, digits.size() - length, "%s%.*Lf",
                                negative ? "-" : "", static_cast<int>(places), units / scale);
    } else {
        written = std::snprintf(digits.data() + length, digits.size() - length, "%f", value);
    }
    length += static_cast<std::size_t>(std::max(written, 0));
    return Pad({digits.data(), std::min(length, digits.size() - 1)}, width);
}

}  // namespace runtime
