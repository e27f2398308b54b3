// Quellor with a clock that only moves when it is told to: its waits for the drive take no real
// time, and the simulated drives' slow reads (through the stand-in library, which finds the
// exported function below) advance it by their duration. Everything else is the real program.
#include <atomic>
#include <cstdint>

#include "extract/quellor.h"
#include "runtime/clock.h"
#include "runtime/console.h"
#include "runtime/halt.h"
#include "runtime/runtime.h"

namespace {

class TestClock final : public runtime::Clock {
public:
    runtime::Microseconds Now() override { return runtime::Microseconds(now_.load()); }
    void Sleep(runtime::Milliseconds duration) override { Advance(duration); }
    void Advance(runtime::Microseconds duration) { now_ += duration.count(); }

private:
    std::atomic<std::int64_t> now_{0};
};

TestClock testClock;

}  // namespace

#if defined(_WIN32)
#define TEST_CLOCK_EXPORT extern "C" __declspec(dllexport)
#else
#define TEST_CLOCK_EXPORT extern "C" __attribute__((visibility("default")))
#endif

TEST_CLOCK_EXPORT void simdrive_host_clock_advance(std::uint32_t milliseconds) {
    testClock.Advance(runtime::Milliseconds(milliseconds));
}

int main(int argc, char** argv) {
    runtime::InitRuntime(argc, argv, runtime::Dialect::quellor);
    runtime::UseClock(&testClock);
    const std::int32_t exitCode = extract::RunQuellor();
    runtime::WriteLn();
    runtime::Halt(exitCode);
}
