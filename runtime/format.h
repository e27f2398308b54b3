// Number formatting of the console operations, as pure functions.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "runtime/runtime.h"

namespace runtime {

// Room for any double in fixed notation with up to 20 decimals plus padding.
inline constexpr std::size_t formattedCapacity = 400;

struct FormattedNumber {
    std::array<char, formattedCapacity> chars{};
    std::size_t size = 0;
    [[nodiscard]] std::string_view View() const { return {chars.data(), size}; }
};

[[nodiscard]] FormattedNumber FormatInt(std::int64_t value, std::int32_t width);

// Rounds by adding half a unit of the last place to the magnitude and cutting the digits
// beyond it. Quellor's dialect prints one leading space when `width` is 0.
[[nodiscard]] FormattedNumber FormatFixed(double value, std::int32_t places, std::int32_t width,
                                          Dialect dialect);

}  // namespace runtime
