#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/error.h"
#include "runtime/halt.h"
#include "runtime/memory.h"
#include "runtime/timer.h"

namespace {

std::vector<std::string> calls;
runtime::TerminationProc beforeFirst = nullptr;
runtime::TerminationProc beforeSecond = nullptr;

void FirstModule() {
    runtime::InstallTermination(beforeFirst);
    calls.push_back("first");
}

void SecondModule() {
    runtime::InstallTermination(beforeSecond);
    calls.push_back("second");
}

TEST(TerminationChain, RunsTheLatestFirstThroughReinstalledPredecessors) {
    calls.clear();
    beforeFirst = runtime::InstallTermination(FirstModule);
    beforeSecond = runtime::InstallTermination(SecondModule);
    EXPECT_EQ(beforeSecond, &FirstModule);
    runtime::RunTerminationChain();
    EXPECT_EQ(calls, (std::vector<std::string>{"second", "first"}));
    EXPECT_EQ(runtime::InstallTermination(nullptr), nullptr);  // chain ran to its end
}

TEST(TimerDeathTest, HaltRunsTheChainAndExitsWithTheCode) {
    EXPECT_EXIT(
        {
            beforeFirst = runtime::InstallTermination(+[] {
                runtime::InstallTermination(beforeFirst);
                // _Exit flushes no stdio stream, and stderr may be buffered (stdbuf).
                fputs("released", stderr);
                fflush(stderr);
            });
            runtime::Halt(3);
        },
        testing::ExitedWithCode(3), "released");
}

TEST(Timer, OneWrapAtMidnight) {
    const std::int32_t start = ((23 * 60 + 59) * 60 + 59) * 1000;
    EXPECT_EQ(runtime::ElapsedBetween(start, 1000), 2000);
    EXPECT_EQ(runtime::ElapsedBetween(1000, 3500), 2500);
    EXPECT_EQ(runtime::ElapsedBetween(5, 5), 0);
}

TEST(Memory, AllocatesWritableBlocksAndRefusesHugeOnes) {
    std::byte* block = runtime::Allocate(301'056);
    ASSERT_NE(block, nullptr);
    block[0] = std::byte{1};
    block[301'055] = std::byte{2};
    runtime::Deallocate(block, 301'056);
    EXPECT_EQ(block, nullptr);
    EXPECT_EQ(runtime::Allocate(runtime::allocateLimit), nullptr);
}

TEST(MemoryDeathTest, ReleaseChecksNamedByTheReport) {
    EXPECT_EXIT(
        {
            std::byte* none = nullptr;
            runtime::Deallocate(none, 10);
        },
        testing::ExitedWithCode(255), "-> NIL-DEALLOCATE");
    EXPECT_EXIT(
        {
            std::byte* block = runtime::Allocate(10);
            runtime::Deallocate(block, 11);
        },
        testing::ExitedWithCode(255), "-> WRONG-UNALLOCATE-SIZE");
    EXPECT_EXIT(
        {
            std::byte* block = runtime::Allocate(10);
            block[10] = std::byte{0};  // one past the end, into the tail guard
            runtime::Deallocate(block, 10);
        },
        testing::ExitedWithCode(255), "-> MEMORY-OVERWRITE-TAIL");
}

TEST(RuntimeErrorDeathTest, ReportNamesModuleLineAndCheck) {
    const int line = __LINE__ + 1;
    EXPECT_EXIT(
        runtime::CheckIndex(16, 16), testing::ExitedWithCode(255),
        "Unhandled exception\nat process_test\\." + std::to_string(line) + " -> INDEX-RANGE\n");
    EXPECT_EXIT((void)runtime::Narrow<std::int32_t>(std::int64_t{1} << 40),
                testing::ExitedWithCode(255), "-> ASSIGN-RANGE");
    EXPECT_EXIT((void)runtime::CheckedAdd<std::int32_t>(2'147'483'647, 1),
                testing::ExitedWithCode(255), "-> WHOLE-OVERFLOW");
}

TEST(RuntimeError, ModuleNameIsTheFileStem) {
    EXPECT_EQ(runtime::ModuleName("/a/b/slot_pool.cpp"), "slot_pool");
    EXPECT_EQ(runtime::ModuleName("main.cpp"), "main");
    EXPECT_EQ(runtime::ModuleName("C:\\src\\x.cpp"), "x");
}

}  // namespace
