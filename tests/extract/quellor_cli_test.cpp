// The built Quellor, run as a user runs it: banner, messages, line ends and exit codes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/program_run.h"
#include "tests/support/quellor_console.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::BuiltProgram;
using testing_support::RunProgram;

const std::string& banner = testing_support::quellorBanner;

testing_support::RunResult RunQuellor(const std::vector<std::string>& arguments) {
    testing_support::TempDir dir;
    testing_support::RunOptions options;
    options.workingDirectory = dir.Path();
    // No manager library in reach: the drives seen are the machine's own (none here).
    options.environment["LD_LIBRARY_PATH"] = "";
    return RunProgram(BuiltProgram("Quellor"), arguments, options);
}

struct CliCase {
    const char* name;
    std::vector<std::string> arguments;
    const char* message;
};

void PrintTo(const CliCase& c, std::ostream* os) {
    *os << c.name;
}

class QuellorCli : public testing::TestWithParam<CliCase> {};

TEST_P(QuellorCli, PrintsBannerMessageAndEmptyLineWithExitCodeZero) {
    const auto run = RunQuellor(GetParam().arguments);
    EXPECT_EQ(run.out, banner + GetParam().message + "\n\n");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exitCode, 0);
}

const char* const usage = "Usage : Quellor <Drive number>";
const char* const noDrive = "Drive number does not exists!";

INSTANTIATE_TEST_SUITE_P(
    Arguments, QuellorCli,
    testing::Values(CliCase{"NoArgument", {}, usage}, CliCase{"TwoArguments", {"1", "2"}, usage},
                    CliCase{"QuotedDriveZero", {"0"}, noDrive},
                    CliCase{"TrailingSpace", {"1 "}, noDrive}, CliCase{"Negative", {"-1"}, noDrive},
                    CliCase{"Letters", {"abc"}, noDrive}, CliCase{"PartlyNumeric", {"1x"}, noDrive},
                    CliCase{"BeyondTheDriveCount", {"16"}, noDrive},
                    CliCase{"Overflowing", {"99999999999"}, noDrive},
                    CliCase{"Empty", {""}, noDrive}),
    [](const testing::TestParamInfo<CliCase>& info) { return std::string(info.param.name); });

TEST(QuellorConsole, ClosedStandardOutputIsNoCrash) {
    testing_support::TempDir dir;
    testing_support::RunOptions options;
    options.workingDirectory = dir.Path();
    options.closeStandardOutput = true;
    const auto run = RunProgram(BuiltProgram("Quellor"), {"0"}, options);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.err, "");
}

}  // namespace

namespace {

// Under an address-space limit the two buffer areas cannot be had. Which limit lets the
// program start but not allocate depends on the build, so a range is tried; a checked build
// reserves far more address space for itself and cannot run this at all.
TEST(QuellorConsole, MissingMemoryIsReportedWithExitCodeOne) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer needs more address space than any limit here";
#endif
    bool reported = false;
    for (int kilobytes = 4'000; kilobytes <= 14'000 && !reported; kilobytes += 500) {
        const auto run = testing_support::RunProgram(
            "/bin/sh", {"-c", "ulimit -v " + std::to_string(kilobytes) + " && exec \"$0\" 0",
                        BuiltProgram("Quellor").string()});
        if (run.out == "Not enough memory!\n\n") {
            EXPECT_EQ(run.exitCode, 1);
            reported = true;
        } else if (run.exitCode == 0) {
            EXPECT_EQ(run.out, banner + "Drive number does not exists!\n\n");
        }
    }
    EXPECT_TRUE(reported);
}

}  // namespace
