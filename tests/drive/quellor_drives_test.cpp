// The built Quellor finding drives: through the stand-in manager library under either
// manager's name, or through its own native path when no library is in reach.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/program_run.h"
#include "tests/support/quellor_console.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::BuiltProgram;
using testing_support::RunProgram;

const std::string& banner = testing_support::quellorBanner;
const std::string noDrive = banner + "Drive number does not exists!\n\n";
const std::string noDisc = banner + "No CD found in specified drive!\n\n";

std::string DriveAt(int adapter, int target, const std::string& product,
                    const std::string& vendor = "SIMDRIVE") {
    return "[drive]\nadapter = " + std::to_string(adapter) +
           "\ntarget = " + std::to_string(target) + "\nvendor = \"" + vendor + "\"\nproduct = \"" +
           product + "\"\ndisc = none\n";
}

// Three named drives on two adapters, and one whose identification is blank.
const std::string threeDrives = DriveAt(1, 0, "FIRST") + DriveAt(1, 1, "SECOND") +
                                DriveAt(0, 3, "THIRD") + DriveAt(2, 0, "", "");

class QuellorDrives : public testing::Test {
protected:
    // Runs Quellor with the stand-in libraries of `folder` ("" for none) in the search path.
    testing_support::RunResult Run(const std::string& folder, const std::string& description,
                                   const std::string& driveNumber,
                                   const std::string& completion = "late") {
        const auto descriptionFile = dir_ / "drives.drive";
        std::ofstream(descriptionFile) << description;
        testing_support::RunOptions options;
        options.workingDirectory = dir_.Path();
        options.environment["LD_LIBRARY_PATH"] =
            folder.empty() ? "" : std::string(MARROWBY_STANDIN_DIR) + "/" + folder;
        options.environment["SIMDRIVE_DESCRIPTION"] = descriptionFile.string();
        options.environment["SIMDRIVE_ASPI_LOG"] = (dir_ / "entries.log").string();
        options.environment["SIMDRIVE_ASPI_COMPLETION"] = completion;
        return RunProgram(BuiltProgram("Quellor"), {driveNumber}, options);
    }

    // The support entries the stand-in served, one per line; the log is text, read as text
    // (its line ends are CR LF on Windows).
    std::string EntriesServed() const {
        std::ifstream log(dir_ / "entries.log");
        std::stringstream text;
        text << log.rdbuf();
        return text.str();
    }

    testing_support::TempDir dir_;
};

TEST_F(QuellorDrives, WithBothLibrariesTheFirstManagerServesTheDescribedDrives) {
    for (const std::string number : {"0", "1", "2"}) {
        const auto run = Run("both", threeDrives, number);
        EXPECT_EQ(run.out, noDisc) << number;
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.exitCode, 0);
    }
    const auto run = Run("both", threeDrives, "3");
    EXPECT_EQ(run.out, noDrive);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(EntriesServed(),
              "GetASPI32SupportInfo\nGetASPI32SupportInfo\n"
              "GetASPI32SupportInfo\nGetASPI32SupportInfo\n");
}

TEST_F(QuellorDrives, WithOnlyTheSecondLibraryTheAlternativeManagerServes) {
    EXPECT_EQ(Run("asapi-only", threeDrives, "2").out, noDisc);
    EXPECT_EQ(Run("asapi-only", threeDrives, "3").out, noDrive);
    EXPECT_EQ(EntriesServed(), "GetASAPI32SupportInfo\nGetASAPI32SupportInfo\n");
}

TEST_F(QuellorDrives, WithOnlyTheFirstLibraryItServes) {
    EXPECT_EQ(Run("aspi-only", threeDrives, "2").out, noDisc);
    EXPECT_EQ(EntriesServed(), "GetASPI32SupportInfo\n");
}

TEST_F(QuellorDrives, WithNeitherLibraryTheNativePathFindsThisMachinesDrives) {
    const auto run = Run("", threeDrives, "0");
    EXPECT_EQ(run.out, noDrive);  // this machine has no CD device
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(EntriesServed(), "");
}

TEST_F(QuellorDrives, OfSeventeenDrivesSixteenCanBeChosen) {
    std::string description;
    for (int i = 0; i < 17; ++i) {
        description += DriveAt(i / 8, i % 8, "DRIVE " + std::to_string(i));
    }
    EXPECT_EQ(Run("both", description, "15").out, noDisc);
    EXPECT_EQ(Run("both", description, "16").out, noDrive);
}

// Requests that complete before the send returns leave the completion event signalled; each
// drive must still be found with its own inquiry reply.
TEST_F(QuellorDrives, RequestsCompletingEarlyAndLateFindEveryDrive) {
    const std::string description = DriveAt(0, 0, "A") + DriveAt(0, 1, "B") + DriveAt(0, 2, "C") +
                                    DriveAt(0, 3, "D") + DriveAt(0, 4, "E");
    for (const std::string completion : {"early", "alternate"}) {
        EXPECT_EQ(Run("both", description, "4", completion).out, noDisc) << completion;
        EXPECT_EQ(Run("both", description, "5", completion).out, noDrive) << completion;
    }
}

TEST_F(QuellorDrives, AnUnreadableDescriptionIsReportedByTheLibraryAndFindsNoDrive) {
    const auto run = Run("both", "[drive]\nadapter = nine\n", "0");
    EXPECT_EQ(run.out, noDrive);
    EXPECT_NE(run.err.find("simulated drive manager: "), std::string::npos) << run.err;
}

}  // namespace
