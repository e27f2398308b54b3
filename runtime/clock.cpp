#include "runtime/clock.h"

#include <thread>

namespace runtime {
namespace {

class SystemClock final : public Clock {
public:
    Microseconds Now() override {
        return std::chrono::duration_cast<Microseconds>(
            std::chrono::steady_clock::now().time_since_epoch());
    }
    void Sleep(Milliseconds duration) override { std::this_thread::sleep_for(duration); }
};

SystemClock systemClock;
Clock* currentClock = &systemClock;

}  // namespace

Clock& CurrentClock() {
    return *currentClock;
}

void UseClock(Clock* clock) {
    currentClock = clock != nullptr ? clock : &systemClock;
}

}  // namespace runtime
