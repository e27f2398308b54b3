// A failed check ends Quellor with the report and exit code 255, however busy its threads are:
// the termination chain runs to its end and the process goes. The whole program runs here,
// over the simulated drive's manager library, while another thread's check fails.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "extract/quellor.h"
#include "runtime/error.h"
#include "runtime/halt.h"
#include "runtime/runtime.h"
#include "tests/support/temp_dir.h"

namespace {

runtime::TerminationProc beforeTest = nullptr;
std::filesystem::path childDir;

// Installed before Quellor's own procedures, so it runs last: it shows the chain's end, and
// removes the folder that the death test's child made for itself.
void ChainEnd() {
    runtime::InstallTermination(beforeTest);
    std::fputs("termination chain ended\n", stderr);
    std::error_code error;
    std::filesystem::current_path(childDir.parent_path(), error);
    std::filesystem::remove_all(childDir, error);
}

// The writer is held in a write: the C2 file is a pipe that nobody reads. Once the audio file
// shows that the writer got well into the run, the pipe is full, the writer waits in its write
// and the reader in a wait for a free slot; then a check fails on a third thread.
void FailACheckOnceTheWriterIsStuck(std::filesystem::path wav) {
    constexpr std::uintmax_t enoughAudio = 44 + 8 * 24 * 2352;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::error_code error;
    while (std::filesystem::file_size(wav, error) < enoughAudio &&
           std::chrono::steady_clock::now() < giveUp) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    runtime::CheckRange(false);
}

[[noreturn]] void RunQuellorUntilACheckFails(const std::filesystem::path& dir) {
    childDir = dir;
    std::filesystem::current_path(dir);
    static std::array<char*, 3> arguments{const_cast<char*>("Quellor"), const_cast<char*>("0"),
                                          nullptr};
    runtime::InitRuntime(2, arguments.data(), runtime::Dialect::quellor);
    beforeTest = runtime::InstallTermination(ChainEnd);
    std::thread(FailACheckOnceTheWriterIsStuck, dir / "SIMTESTDRIVE.wav").detach();
    (void)extract::RunQuellor();
    std::fputs("the run ended before the check failed\n", stderr);
    std::_Exit(1);
}

TEST(FatalErrorDeathTest, ACheckFailingWhileTheWriterIsStuckEndsTheProgram) {
    testing_support::TempDir dir;
    std::ofstream(dir / "drives.drive")
        << "[drive]\nvendor = \"SIM\"\nproduct = \"TEST DRIVE\"\ndisc = pattern 3000 11\n";
    ASSERT_EQ(::mkfifo((dir / "SIMTESTDRIVE.c2").c_str(), 0600), 0);
    // The death test's child starts afresh from this environment, so the loader finds the
    // manager library.
    ::setenv("LD_LIBRARY_PATH", (std::string(MARROWBY_STANDIN_DIR) + "/both").c_str(), 1);
    ::setenv("SIMDRIVE_DESCRIPTION", (dir / "drives.drive").c_str(), 1);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(RunQuellorUntilACheckFails(dir.Path()), testing::ExitedWithCode(255),
                "Unhandled exception\nat fatal_error_test\\.[0-9]+ -> ASSIGN-RANGE\n"
                "termination chain ended\n");
}

}  // namespace
