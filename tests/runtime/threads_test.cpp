#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "runtime/sync.h"
#include "runtime/thread.h"

namespace {

using namespace std::chrono_literals;
using runtime::Event;
using runtime::ResetMode;

std::atomic<int> ran{0};

std::int32_t Doubler(std::intptr_t parameter) {
    ran.fetch_add(1);
    return static_cast<std::int32_t>(parameter * 2);
}

TEST(Threads, KeptThreadIsCollectedWithItsResult) {
    runtime::Thread* thread = nullptr;
    ASSERT_TRUE(runtime::StartThread(thread, Doubler, 21, 32'768, true));
    ASSERT_NE(thread, nullptr);
    std::int32_t result = 0;
    EXPECT_EQ(runtime::WaitThread(thread, runtime::waitForever, result),
              runtime::WaitStatus::ended);
    EXPECT_EQ(result, 42);
    EXPECT_EQ(thread, nullptr);
    EXPECT_EQ(runtime::WaitThread(thread, 0ms, result), runtime::WaitStatus::failed);
}

TEST(Threads, UnkeptThreadLeavesNoRecord) {
    runtime::Thread* thread = nullptr;
    const int before = ran.load();
    ASSERT_TRUE(runtime::StartThread(thread, Doubler, 1, 0, false));
    EXPECT_EQ(thread, nullptr);
    while (ran.load() == before) {
        std::this_thread::yield();
    }
}

Event* gate = nullptr;

std::int32_t WaitAtGate(std::intptr_t) {
    gate->Wait();
    return 7;
}

TEST(Threads, WaitWithTimeoutReportsARunningThread) {
    Event open(ResetMode::manual);
    gate = &open;
    runtime::Thread* thread = nullptr;
    ASSERT_TRUE(runtime::StartThread(thread, WaitAtGate, 0, 0, true));
    std::int32_t result = 0;
    EXPECT_EQ(runtime::WaitThread(thread, 20ms, result), runtime::WaitStatus::timedOut);
    open.Set();
    EXPECT_EQ(runtime::WaitThread(thread, 5000ms, result), runtime::WaitStatus::ended);
    EXPECT_EQ(result, 7);
}

TEST(Events, ManualResetStaysSignalledUntilReset) {
    Event event(ResetMode::manual);
    EXPECT_FALSE(event.WaitFor(0ms));
    event.Set();
    EXPECT_TRUE(event.WaitFor(0ms));
    EXPECT_TRUE(event.WaitFor(0ms));
    event.Reset();
    EXPECT_FALSE(event.WaitFor(1ms));
}

TEST(Events, AutoResetIsConsumedByOneWait) {
    Event event(ResetMode::automatic);
    event.Set();
    EXPECT_TRUE(event.WaitFor(0ms));
    EXPECT_FALSE(event.WaitFor(1ms));
}

TEST(Events, WakesAWaiterOnAnotherThread) {
    Event event(ResetMode::automatic);
    gate = &event;
    runtime::Thread* thread = nullptr;
    ASSERT_TRUE(runtime::StartThread(thread, WaitAtGate, 0, 0, true));
    event.Set();
    std::int32_t result = 0;
    EXPECT_EQ(runtime::WaitThread(thread, runtime::waitForever, result),
              runtime::WaitStatus::ended);
}

}  // namespace
