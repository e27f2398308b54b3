// What only the Windows build shows: the runtime error report as a message box, the console's
// carriage return and line feed, and the command line taken apart from one string.
#include <gtest/gtest.h>

#include <string>

#include "runtime/command_line.h"
#include "tests/support/program_run.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::BuiltProgram;
using testing_support::RunProgram;

TEST(ErrorReportBox, AFailedCheckShowsTheSystemModalStopBoxThenExits255) {
    const auto run = RunProgram(BuiltProgram("error_probe"), {"check"});
    EXPECT_EQ(run.exitCode, 255);
    ASSERT_EQ(run.boxes.size(), 1U);
    EXPECT_EQ(run.boxes[0].caption, "Unhandled exception");
    EXPECT_EQ(run.boxes[0].text, "at error_probe.14 -> INDEX-RANGE");
    EXPECT_TRUE(run.boxes[0].icon);
    EXPECT_TRUE(run.boxes[0].topmost);
    EXPECT_EQ(run.out, "");
}

TEST(ErrorReportBox, AProcessorFaultNamesTheAddressAndTheFault) {
    const auto run = RunProgram(BuiltProgram("error_probe"), {"fault"});
    EXPECT_EQ(run.exitCode, 255);
    ASSERT_EQ(run.boxes.size(), 1U);
    const std::string& text = run.boxes[0].text;
    ASSERT_EQ(text.size(), std::string("at 12345678 -> ACCESS_VIOLATION").size()) << text;
    EXPECT_EQ(text.substr(0, 3), "at ");
    EXPECT_EQ(text.find_first_not_of("0123456789ABCDEF", 3), 11U) << text;
    EXPECT_EQ(text.substr(11), " -> ACCESS_VIOLATION");
}

TEST(WindowsConsole, LinesEndInCarriageReturnAndLineFeed) {
    testing_support::TempDir dir;
    testing_support::RunOptions options;
    options.workingDirectory = dir.Path();
    const auto run = RunProgram(BuiltProgram("Quellor"), {}, options);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.rawOut,
              "Quellor for Marrowby V1.1\r\n"
              "Copyright (c) the Marrowby developers. Free to use for testing CD drives.\r\n"
              "\r\n"
              "Usage : Quellor <Drive number>\r\n\r\n");
}

TEST(WindowsCommandLine, TheProgramNameEndsAtItsClosingQuoteOrTheFirstSpace) {
    EXPECT_EQ(runtime::TailAfterProgramName("  \"C:\\My Tools\\Quellor.exe\"  0 1"), "0 1");
    EXPECT_EQ(runtime::TailAfterProgramName("\"C:\\My Tools\\Quellor.exe\"0"), "0");
    EXPECT_EQ(runtime::TailAfterProgramName("Quellor.exe   \"0\" "), "\"0\" ");
    EXPECT_EQ(runtime::TailAfterProgramName("Quellor.exe"), "");
    EXPECT_EQ(runtime::TailAfterProgramName("\"unclosed 0"), "");
    EXPECT_EQ(runtime::TailAfterProgramName(""), "");
}

TEST(WindowsCommandLine, AQuotedProgramPathWithSpacesLeavesTheDriveNumber) {
    testing_support::TempDir dir;
    const auto spaced = dir / "My Tools";
    std::filesystem::create_directory(spaced);
    std::filesystem::copy_file(BuiltProgram("Quellor"), spaced / "Quellor.exe");
    testing_support::RunOptions options;
    options.workingDirectory = dir.Path();
    const auto run = RunProgram(spaced / "Quellor.exe", {"7"}, options);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.out.find("Drive number does not exists!"), std::string::npos) << run.out;
}

}  // namespace
