#include "runtime/timer.h"

#include "runtime/platform.h"

namespace runtime {
namespace {

std::int32_t timerStart = 0;

}  // namespace

std::int32_t ElapsedBetween(std::int32_t start, std::int32_t now) {
    const std::int32_t difference = now - start;
    return difference < 0 ? difference + millisecondsPerDay : difference;
}

void StartTimer() {
    timerStart = MillisecondsSinceMidnight();
}

std::int32_t ElapsedMilliseconds() {
    return ElapsedBetween(timerStart, MillisecondsSinceMidnight());
}

std::int32_t MillisecondsSinceMidnight() {
    return platform::LocalMillisecondsSinceMidnight();
}

}  // namespace runtime
