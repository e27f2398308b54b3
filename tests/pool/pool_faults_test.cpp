// c2pool add when things go wrong around it: killed at any moment, racing another add, or
// running out of disk. The pool always holds whole submissions, and adding again completes it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <random>
#include <thread>

#include "tests/pool/pool_files.h"
#include "tests/support/small_file_system.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using pool_testing::Contents;
using testing_support::TempDir;

constexpr int kPasses = 8;

void Examples(const fs::path& folder, std::uint64_t count, std::uint64_t seed) {
    bench::ExampleOptions options;
    options.seed = seed;
    options.passes = kPasses;
    std::string error;
    ASSERT_TRUE(bench::WriteExamples(folder.string(), count, options, error)) << error;
}

// c2pool started in the background, its output thrown away.
class Background {
public:
    Background(const fs::path& folder, const std::vector<std::string>& arguments) {
        const std::string program = testing_support::BuiltProgram("c2pool").string();
        std::vector<std::string> texts{program};
        texts.insert(texts.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& text : texts) {
            argv.push_back(text.data());
        }
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        started_ =
            posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) == 0;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Background() { Kill(); }
    [[nodiscard]] bool Started() const { return started_; }
    // True when it was still running.
    bool Kill() {
        if (!started_) {
            return false;
        }
        started_ = false;
        int status = 0;
        const bool running = waitpid(pid_, &status, WNOHANG) == 0;
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        return running;
    }

private:
    pid_t pid_ = 0;
    bool started_ = false;
};

TEST(PoolFaults, AnAddKilledAtAnyMomentLeavesWholeSubmissionsAndCompletesWhenRunAgain) {
    TempDir dir;
#ifdef POOL_TESTS_SANITIZED
    constexpr std::int64_t count = 2'500;  // the sanitizers make each add several times slower
#else
    constexpr std::int64_t count = 10'000;
#endif
    Examples(dir / "in", count, 7);
    std::mt19937 random(std::random_device{}());
    const auto delay =
        std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 1000)(random));
    {
        Background add(dir.Path(), {"add", "pool.sqlite", "in"});
        ASSERT_TRUE(add.Started());
        // Once the pool exists, the add is storing.
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!fs::exists(dir / "pool.sqlite") && std::chrono::steady_clock::now() < limit) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        std::this_thread::sleep_for(delay);
        EXPECT_TRUE(add.Kill()) << "the add ended within " << delay.count() << " ms";
    }
    const auto killed = Contents(dir / "pool.sqlite", kPasses);
    EXPECT_EQ(killed.incomplete, 0);
    EXPECT_EQ(killed.passes, killed.submissions * kPasses);
    EXPECT_LT(killed.submissions, count);
    const auto again = pool_testing::RunC2Pool(dir.Path(), {"add", "pool.sqlite", "in"});
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_NE(
        again.out.find(std::to_string(count - killed.submissions) + " accepted, " +
                       std::to_string(killed.submissions) + " already in the pool, 0 refused."),
        std::string::npos)
        << again.out;
    const auto whole = Contents(dir / "pool.sqlite", kPasses);
    EXPECT_EQ(whole.submissions, count);
    EXPECT_EQ(whole.incomplete, 0);
}

TEST(PoolFaults, TwoAddsAtOnceBothLand) {
    TempDir dir;
    Examples(dir / "one", 1500, 1);
    Examples(dir / "two", 1500, 2);
    testing_support::RunResult one, two;
    std::thread first([&] {
        one = pool_testing::RunC2Pool(dir.Path(), {"add", "pool.sqlite", "one"});
    });
    std::thread second([&] {
        two = pool_testing::RunC2Pool(dir.Path(), {"add", "pool.sqlite", "two"});
    });
    first.join();
    second.join();
    for (const auto* run : {&one, &two}) {
        EXPECT_EQ(run->exitCode, 0);
        EXPECT_EQ(run->err, "");
        // Away from a terminal, a progress line each time another tenth is done.
        EXPECT_EQ(run->out,
                  "Adding: 256 of 1,500 files (17 %)\n"
                  "Adding: 512 of 1,500 files (34 %)\n"
                  "Adding: 768 of 1,500 files (51 %)\n"
                  "Adding: 1,024 of 1,500 files (68 %)\n"
                  "Adding: 1,280 of 1,500 files (85 %)\n"
                  "Adding: 1,500 of 1,500 files (100 %)\n"
                  "1500 accepted, 0 already in the pool, 0 refused.\n");
    }
    const auto contents = Contents(dir / "pool.sqlite", kPasses);
    EXPECT_EQ(contents.submissions, 3000);
    EXPECT_EQ(contents.incomplete, 0);
}

TEST(PoolFaults, AFullDiskStopsTheAddAfterItsLastWholeSubmission) {
    TempDir dir;
    const fs::path mount = dir / "small";
    const testing_support::SmallFileSystem small(mount, "1536k");
    if (!small.Mounted()) {
        GTEST_SKIP() << testing_support::SmallFileSystem::kWhyNot;
    }
    Examples(dir / "in", 400, 3);
    const fs::path pool = mount / "pool.sqlite";
    const auto run = pool_testing::RunC2Pool(dir.Path(), {"add", pool.string(), "in"});
    EXPECT_EQ(run.exitCode, 1);
    const std::string expected = "Cannot write the pool \"" + pool.string() +
                                 "\" (database or disk is full): it is as it was before the "
                                 "change that failed.\n";
    EXPECT_EQ(run.err, expected);
    const auto summary = run.out.rfind('\n', run.out.size() - 2);
    const std::string last = run.out.substr(summary == std::string::npos ? 0 : summary + 1);
    const std::int64_t accepted = std::atoll(last.c_str());
    EXPECT_GT(accepted, 0);
    EXPECT_EQ(last, std::to_string(accepted) + " accepted, 0 already in the pool, 0 refused.\n");
    // Read from a copy: the full file system has no room for the reader's shared memory.
    for (const char* suffix : {"", "-wal"}) {
        if (fs::exists(pool.string() + suffix)) {
            fs::copy_file(pool.string() + suffix, dir / (std::string("copy.sqlite") + suffix));
        }
    }
    const auto contents = Contents(dir / "copy.sqlite", kPasses);
    EXPECT_EQ(contents.submissions, accepted);
    EXPECT_EQ(contents.incomplete, 0);
    // The files stored are the first ones by name, every one before the failure.
    for (std::int64_t i = 0; i < accepted && i < static_cast<std::int64_t>(contents.ids.size());
         ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "example-%06lld.json", static_cast<long long>(i + 1));
        EXPECT_EQ(contents.ids[static_cast<std::size_t>(i)],
                  pool::SubmissionId(testing_support::ReadFileText(dir / "in" / name)));
    }
}

}  // namespace
