// Quellor against drives with a real drive's manners: spinning up, reporting a change, pausing
// mid-read, retrying a damaged area for seconds. The runs use Quellor on a clock that its waits
// and the drives' slow reads move, so that thirty seconds of waiting take none; the files must be
// those of the same drive without manners, byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/program_run.h"
#include "tests/support/quellor_console.h"
#include "tests/support/standin_drives.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::ReadFileBytes;
using testing_support::RunResult;
using testing_support::TempDir;
using Json = nlohmann::json;

const std::string& banner = testing_support::quellorBanner;
const std::string testUnitReady = "00 00 00 00 00 00";
const std::string waiting = "Waiting for the drive to become ready...\n";

std::string Drive(std::int64_t sectors, const std::string& manners) {
    return "[drive]\nvendor = \"SIM\"\nproduct = \"TEST DRIVE\"\nread_cd = 0x10 0x14\n"
           "vendor_d8 = 0x00 0x04\ndisc = pattern " +
           std::to_string(sectors) + " 11\ndamage_seed = 5\nscratch = 100 200 0.02 8\n" + manners;
}

RunResult RunQuellor(const TempDir& dir, const std::string& description,
                     const std::vector<std::string>& arguments,
                     const std::string& program = "QuellorTestClock") {
    std::ofstream(dir / "drives.drive") << description;
    const auto options = testing_support::StandInDriveOptions(dir.Path(), dir / "drives.drive",
                                                              dir / "commands.log");
    return testing_support::RunProgram(testing_support::BuiltProgram(program), arguments, options);
}

std::vector<std::string> Commands(const TempDir& dir) {
    return testing_support::CommandLog(dir / "commands.log");
}

std::ptrdiff_t LeadingTestUnitReadys(const std::vector<std::string>& commands) {
    // Discovery's INQUIRY comes first.
    const auto from = commands.begin() + 1;
    return std::find_if(from, commands.end(),
                        [](const std::string& c) { return c != testUnitReady; }) -
           from;
}

std::vector<std::string> AudioFiles(const TempDir& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
        const std::string extension = entry.path().extension().string();
        if (extension == ".wav" || extension == ".c2") {
            names.push_back(entry.path().filename().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The same run with a drive without manners gives the same files, and (when `sameConsole`)
// the same console text.
void ExpectAsWithoutManners(const TempDir& dir, const RunResult& run, std::int64_t sectors,
                            const std::vector<std::string>& arguments, bool sameConsole) {
    TempDir plainDir;
    const RunResult plain = RunQuellor(plainDir, Drive(sectors, ""), arguments);
    ASSERT_EQ(plain.exitCode, 0) << plain.out;
    if (sameConsole) {
        EXPECT_EQ(run.out, plain.out);
    }
    const std::vector<std::string> names = AudioFiles(plainDir);
    ASSERT_FALSE(names.empty());
    EXPECT_EQ(AudioFiles(dir), names);
    for (const std::string& name : names) {
        EXPECT_TRUE(ReadFileBytes(dir / name) == ReadFileBytes(plainDir / name)) << name;
    }
}

TEST(Manners, ADiscSpinningUpAfterAChangeIsWaitedForAndReadWhole) {
    TempDir dir;
    const RunResult run = RunQuellor(dir, Drive(300, "spin_up = 40\nunit_attention = 28\n"), {"0"});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    ASSERT_TRUE(run.out.starts_with(banner + waiting)) << run.out;
    // The change, forty answers of becoming ready (20 s at 500 ms a poll), and ready.
    EXPECT_EQ(LeadingTestUnitReadys(Commands(dir)), 1 + 40 + 1);
    TempDir plainDir;
    const RunResult plain = RunQuellor(plainDir, Drive(300, ""), {"0"});
    EXPECT_EQ(run.out, banner + waiting + plain.out.substr(banner.size()));
    ExpectAsWithoutManners(dir, run, 300, {"0"}, false);
}

TEST(Manners, AStudyWaitsAsThePlainRunDoes) {
    TempDir dir;
    const std::vector<std::string> arguments{"--study", "0", "--speeds", "8x,max"};
    const RunResult run =
        RunQuellor(dir, Drive(120, "spin_up = 40\nunit_attention = 28\n"), arguments);
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_TRUE(run.out.starts_with(banner + waiting)) << run.out;
    ExpectAsWithoutManners(dir, run, 120, arguments, false);
}

TEST(Manners, ADriveThatIsReadyAtOnceIsAskedOnce) {
    TempDir dir;
    const RunResult run = RunQuellor(dir, Drive(30, ""), {"0"}, "Quellor");
    EXPECT_EQ(run.exitCode, 0);
    const std::vector<std::string> commands = Commands(dir);
    EXPECT_EQ(LeadingTestUnitReadys(commands), 1);
    EXPECT_EQ(std::count(commands.begin(), commands.end(), testUnitReady), 1);
}

TEST(Manners, ADriveNeverReadyIsGivenUpAfterThirtySecondsWithNoFile) {
    TempDir dir;
    const RunResult run = RunQuellor(dir, Drive(300, "never_ready = yes\n"), {"0"});
    EXPECT_EQ(run.out, banner + waiting + "The drive did not become ready in 30 s.\n\n");
    EXPECT_EQ(run.exitCode, 1);
    // Polls at 0, 0.5, ..., 30 s.
    EXPECT_EQ(LeadingTestUnitReadys(Commands(dir)), 61);
    EXPECT_TRUE(AudioFiles(dir).empty());
}

TEST(Manners, UnitAttentionsWithoutEndAreGivenUpAfterEightInARow) {
    TempDir dir;
    const RunResult run = RunQuellor(dir, Drive(300, "unit_attention = 29 1000\n"), {"0"});
    EXPECT_EQ(run.out, banner + "The drive keeps reporting a change (unit attention).\n\n");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(LeadingTestUnitReadys(Commands(dir)), 8);
    EXPECT_TRUE(AudioFiles(dir).empty());
}

TEST(Manners, ADiscWithoutDiscIsStillNoCd) {
    TempDir dir;
    const RunResult run = RunQuellor(
        dir, "[drive]\nvendor = \"SIM\"\nproduct = \"EMPTY\"\nunit_attention = 28\n", {"0"});
    EXPECT_EQ(run.out, banner + "No CD found in specified drive!\n\n");
    EXPECT_EQ(run.exitCode, 0);
}

// A pause and a reported reset in the middle of the disc: the reads are sent again, and the
// files hold each sector once, exactly as read.
TEST(Manners, PausesAndUnitAttentionsMidDiscLeaveTheFilesAsWithoutThem) {
    TempDir dir;
    const RunResult run =
        RunQuellor(dir, Drive(600, "pause_at = 250:20\nunit_attention_at = 400\n"), {"0"});
    EXPECT_EQ(run.exitCode, 0) << run.out;
    ExpectAsWithoutManners(dir, run, 600, {"0"}, true);
    const std::vector<std::string> commands = Commands(dir);
    // The read of 240..263 is sent 20 times before it is answered, 400's twice.
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "be 04 00 00 00 f0 00 00 18 14 00 00"),
              21);
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "be 04 00 00 01 80 00 00 18 14 00 00"),
              2);
}

TEST(Manners, AStudyPassSurvivesPausesMidDisc) {
    TempDir dir;
    const std::vector<std::string> arguments{"--study", "0"};
    const RunResult run =
        RunQuellor(dir, Drive(600, "pause_at = 250:20\nunit_attention_at = 400\n"), arguments);
    EXPECT_EQ(run.exitCode, 0) << run.out;
    ExpectAsWithoutManners(dir, run, 600, arguments, false);
    const Json study = Json::parse(std::ifstream(dir / "SIMTESTDRIVE.study.json"));
    for (const Json& pass : study["passes"]) {
        EXPECT_TRUE(pass["completed"].get<bool>()) << pass.dump();
    }
}

// A pause of 60 s: after 30 s the drive counts as lost; the pass keeps what it read before.
TEST(Manners, APauseBeyondThirtySecondsEndsTheStudyPassAsTheDriveLost) {
    TempDir dir;
    const RunResult run = RunQuellor(dir, Drive(600, "pause_at = 250:120\n"), {"--study", "0"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.out.find("The drive stopped answering at sector 240. The pass ends there; "
                           "its files hold the sectors before it.\n"),
              std::string::npos)
        << run.out;
    const Json study = Json::parse(std::ifstream(dir / "SIMTESTDRIVE.study.json"));
    EXPECT_FALSE(study["passes"][0]["completed"].get<bool>());
    EXPECT_EQ(study["passes"][0]["sectors"], 240);
    EXPECT_EQ(ReadFileBytes(dir / "SIMTESTDRIVE.readcd14.wav").size(), 44u + 240u * 2352u);
}

// Two damaged areas the drive takes 5 s and 4.5 s over, one it takes exactly 4 s over.
const std::string slowAreas = "slow_at = 300:5000\nslow_at = 500:4000\nslow_at = 1000:4500\n";

TEST(Manners, SlowReadsAreCountedInTheClosingLine) {
    TempDir dir;
    const RunResult run = RunQuellor(dir, Drive(1200, slowAreas), {"0"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.out.ends_with("% Done\n2 slow reads, the slowest 5.0 s at sector 288\n"))
        << run.out;
    ExpectAsWithoutManners(dir, run, 1200, {"0"}, false);
}

TEST(Manners, AStudyRecordsSlowReadsAndTheRateMeasured) {
    TempDir dir;
    const RunResult run = RunQuellor(dir, Drive(1200, slowAreas), {"--study", "0"});
    EXPECT_EQ(run.exitCode, 0) << run.out;
    const Json study = Json::parse(std::ifstream(dir / "SIMTESTDRIVE.study.json"));
    ASSERT_EQ(study["passes"].size(), 2u);
    for (const Json& pass : study["passes"]) {
        EXPECT_EQ(pass["slowReads"],
                  Json({{"count", 2}, {"slowestSeconds", 5.0}, {"slowestSector", 288}}));
        // On this clock only the slow areas take time: 13.5 s for the whole disc.
        EXPECT_DOUBLE_EQ(pass["measuredKBps"].get<double>(),
                         std::round(1200 * 2352 / 1000.0 / 13.5 * 10) / 10);
    }
}

TEST(Manners, AStudyOnTheSystemClockMeasuresARateAndNoSlowRead) {
    TempDir dir;
    const RunResult run = RunQuellor(dir, Drive(120, ""), {"--study", "0"}, "Quellor");
    EXPECT_EQ(run.exitCode, 0) << run.out;
    const Json study = Json::parse(std::ifstream(dir / "SIMTESTDRIVE.study.json"));
    for (const Json& pass : study["passes"]) {
        EXPECT_GT(pass["measuredKBps"].get<double>(), 0.0);
        EXPECT_EQ(pass["slowReads"]["count"], 0);
        EXPECT_TRUE(pass["slowReads"]["slowestSector"].is_null());
    }
}

// To a log, a long pass leaves a dozen lines, not a text per chunk.
TEST(Manners, AStudyToALogHoldsAFewProgressLinesPerPass) {
    TempDir dir;
    const RunResult run = RunQuellor(dir, Drive(12'000, ""), {"--study", "0"}, "Quellor");
    EXPECT_EQ(run.exitCode, 0);
    const auto lines = std::count(run.out.begin(), run.out.end(), '\n');
    EXPECT_LE(lines, 2 * 25);
    // 499 chunks with progress a pass, each with a text of its own (steps of 0.2 %).
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\r'), 2 * 499);
}

#if !defined(_WIN32)
// In a terminal the line shows the rate and the time left; `script` gives the run a terminal.
TEST(Manners, InATerminalTheProgressLineShowsTheRateAndTheTimeLeft) {
    TempDir dir;
    std::ofstream(dir / "drives.drive") << Drive(3000, "");
    testing_support::RunOptions options =
        testing_support::StandInDriveOptions(dir.Path(), dir / "drives.drive");
    const RunResult run = testing_support::RunProgram(
        "/usr/bin/script",
        {"-qec", testing_support::BuiltProgram("Quellor").string() + " 0", "/dev/null"}, options);
    EXPECT_EQ(run.exitCode, 0) << run.out;
    const std::regex line(
        R"(\r +[0-9]+\.[0-9]% Done - [0-9]+\.[0-9]x - Estimated Remaining [0-9]+:[0-5][0-9]:[0-5][0-9] *\r)");
    EXPECT_TRUE(std::regex_search(run.out, line)) << run.out.substr(0, 400);
}
#endif

}  // namespace
