// Wall-clock stopwatch of the progress estimates.
#pragma once

#include <cstdint>

namespace runtime {

inline constexpr std::int32_t millisecondsPerDay = 86'400'000;

void StartTimer();
// Milliseconds since StartTimer, allowing for one pass through local midnight.
[[nodiscard]] std::int32_t ElapsedMilliseconds();

// Local time of day in milliseconds since midnight.
[[nodiscard]] std::int32_t MillisecondsSinceMidnight();
// `now - start`, plus one day when that is negative.
[[nodiscard]] std::int32_t ElapsedBetween(std::int32_t start, std::int32_t now);

}  // namespace runtime
