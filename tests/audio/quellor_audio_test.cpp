// The built Quellor against simulated drives served by the stand-in manager library: the
// table of contents, the C2 form each drive offers, and the bytes that reach the two files.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "simdrive/description.h"
#include "tests/support/program_run.h"
#include "tests/support/quellor_console.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::BuiltProgram;
using testing_support::ReadFileBytes;
using testing_support::RunProgram;

const std::string& banner = testing_support::quellorBanner;

constexpr std::int64_t discSectors = 300;

// A 300-sector disc with a scratch over sectors 100..109, in a drive offering `forms`.
std::string DriveWith(const std::string& vendor, const std::string& product,
                      const std::string& forms) {
    return "[drive]\nadapter = 0\ntarget = 1\nvendor = \"" + vendor + "\"\nproduct = \"" + product +
           "\"\n" + forms + "disc = pattern 300 21\ndamage_seed = 8\n" +
           "scratch = 100 10 0.05 4\n";
}

class QuellorAudio : public testing::Test {
protected:
    testing_support::RunResult Run(const std::string& description) {
        std::ofstream(dir_ / "drives.drive") << description;
        testing_support::RunOptions options;
        options.workingDirectory = dir_.Path();
        options.environment["LD_LIBRARY_PATH"] = std::string(MARROWBY_STANDIN_DIR) + "/aspi-only";
        options.environment["SIMDRIVE_DESCRIPTION"] = (dir_ / "drives.drive").string();
        return RunProgram(BuiltProgram("Quellor"), {"0"}, options);
    }

    // The one output file with this extension.
    std::vector<unsigned char> Output(const std::string& extension) {
        for (const auto& entry : std::filesystem::directory_iterator(dir_.Path())) {
            if (entry.path().extension() == extension) {
                return ReadFileBytes(entry.path());
            }
        }
        ADD_FAILURE() << "no " << extension << " file";
        return {};
    }

    testing_support::TempDir dir_;
};

TEST_F(QuellorAudio, EmptyTrayIsNoCd) {
    const auto run =
        Run("[drive]\nadapter = 0\ntarget = 1\nvendor = \"SIMDRIVE\"\n"
            "product = \"EMPTY\"\ndisc = none\n");
    EXPECT_EQ(run.out, banner + "No CD found in specified drive!\n\n");
    EXPECT_EQ(run.exitCode, 0);
}

TEST_F(QuellorAudio, DriveWithoutAnyC2FormIsReported) {
    const auto run = Run(DriveWith("SIMDRIVE", "NOC2", "read_cd = 0x10\nc2_pointer_bit = no\n"));
    EXPECT_EQ(run.out, banner + "No matching C2 mode found!\n\n");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "SIMDRIVENOC2.wav"));
}

struct FormCase {
    const char* name;
    std::string description;
};

void PrintTo(const FormCase& c, std::ostream* os) {
    *os << c.name;
}

class QuellorC2Forms : public QuellorAudio, public testing::WithParamInterface<FormCase> {};

// Whichever form the drive offers, every sector's audio and its own C2 pointers reach the files.
TEST_P(QuellorC2Forms, FilesHoldEachSectorsAudioAndItsOwnPointers) {
    const auto run = Run(GetParam().description);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out.substr(0, banner.size()), banner);
    EXPECT_NE(run.out.find("% Done"), std::string::npos);

    std::string error;
    auto drives = simdrive::DriveSet::Parse(GetParam().description, "", {}, "test", error);
    ASSERT_TRUE(drives) << error;
    simdrive::Drive& drive = drives->At(0);
    const std::vector<unsigned char> wav = Output(".wav");
    const std::vector<unsigned char> c2 = Output(".c2");
    ASSERT_EQ(wav.size(), 44 + discSectors * 2352);
    ASSERT_EQ(c2.size(), discSectors * 294);
    std::size_t flagged = 0;
    for (std::int64_t s = 0; s < discSectors; ++s) {
        std::vector<std::uint8_t> audio(2352);
        std::vector<std::uint8_t> sense(18);
        ASSERT_EQ(
            drive
                .Execute(
                    std::vector<std::uint8_t>{0xBE, 0x04, 0, 0, static_cast<std::uint8_t>(s >> 8),
                                              static_cast<std::uint8_t>(s), 0, 0, 1, 0x10, 0, 0},
                    simdrive::Direction::in, audio, sense)
                .status,
            0);
        const auto at = static_cast<std::size_t>(s);
        ASSERT_TRUE(std::equal(audio.begin(), audio.end(), wav.begin() + 44 + at * 2352))
            << "audio of sector " << s;
        const simdrive::SectorTruth truth = drive.Truth(s);
        ASSERT_TRUE(std::equal(truth.flagged.begin(), truth.flagged.end(), c2.begin() + at * 294))
            << "pointers of sector " << s;
        flagged += std::any_of(truth.flagged.begin(), truth.flagged.end(),
                               [](std::uint8_t b) { return b != 0; });
    }
    EXPECT_GT(flagged, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    EachForm, QuellorC2Forms,
    testing::Values(FormCase{"ReadCdWithBlockError", DriveWith("SIMDRIVE", "M0", "")},
                    FormCase{"VendorD8",
                             DriveWith("SIMDRIVE", "M1",
                                       "read_cd = 0x10\nvendor_d8 = 0x04\nc2_pointer_bit = no\n")},
                    FormCase{"DensitySwitch",
                             DriveWith("SIMDRIVE", "M2",
                                       "read_cd = 0x10\ndensity_c2 = yes\nc2_pointer_bit = no\n")},
                    FormCase{"ReadCdWithoutBlockError",
                             DriveWith("PLEXTOR ", "CD-R   PX-1", "read_cd = 0x10 0x12\n")}),
    [](const testing::TestParamInfo<FormCase>& info) { return std::string(info.param.name); });

}  // namespace
