// The clock of waits and of read timing: the system's steady clock, or one a test puts in its
// place so that waits of many seconds take none.
#pragma once

#include <chrono>

namespace runtime {

using Microseconds = std::chrono::microseconds;
using Milliseconds = std::chrono::milliseconds;

class Clock {
public:
    virtual ~Clock() = default;
    // Time since an arbitrary start; never goes back.
    [[nodiscard]] virtual Microseconds Now() = 0;
    virtual void Sleep(Milliseconds duration) = 0;
};

// The clock every wait and every timing asks; the system's unless UseClock replaced it.
[[nodiscard]] Clock& CurrentClock();
// Puts `clock` in place for the rest of the run (null: the system's again). Called before any
// drive command, on the main thread.
void UseClock(Clock* clock);

}  // namespace runtime
