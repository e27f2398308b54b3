// The whole test end to end: the built Quellor reads a simulated disc through the stand-in
// manager library, and the built c2report judges what it wrote. Quellor's files must equal an
// extraction made straight from the drive model, and the verdict must equal the model's truth.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "report/output/text.h"
#include "tests/report/simulated_extraction.h"
#include "tests/support/program_run.h"
#include "tests/support/standin_drives.h"
#include "tests/support/temp_dir.h"

namespace {

using simdrive::FlagGranularity;
using testing_support::BuiltProgram;
using testing_support::ReadFileBytes;
using testing_support::RunProgram;
using testing_support::TempDir;

constexpr std::int64_t discSectors = 1'500;
constexpr std::uint64_t patternSeed = 11;
constexpr std::uint64_t damageSeed = 4242;
const std::string driveName = "SIMDRIVECD-ROM";

struct DriveCase {
    const char* name;
    std::int32_t offset;
    double flagWrong;
    FlagGranularity granularity;
    bool late;
    std::vector<std::int64_t> unreadable;
};

void PrintTo(const DriveCase& c, std::ostream* os) {
    *os << c.name;
}

simdrive::DiscSpec Damage(const DriveCase& c) {
    simdrive::DiscSpec spec;
    spec.damage.seed = damageSeed;
    spec.damage.scratches = {{300, 40, 0.02, 16}, {900, 3, 0.2, 4}};
    spec.damage.unreadable = c.unreadable;
    return spec;
}

// The same drive and disc as a description for the stand-in library.
std::string Description(const DriveCase& c) {
    std::ostringstream text;
    text << "[drive]\ndisc = pattern " << discSectors << " " << patternSeed
         << "\ndamage_seed = " << damageSeed << "\nscratch = 300 40 0.02 16\n"
         << "scratch = 900 3 0.2 4\nread_offset = " << c.offset
         << "\nc2_flag_wrong = " << c.flagWrong << "\nc2_flag_good = 0\nc2_granularity = "
         << (c.granularity == FlagGranularity::sample ? "sample" : "byte")
         << "\nc2_late = " << (c.late ? "yes" : "no") << "\n";
    for (const std::int64_t sector : c.unreadable) {
        text << "unreadable = " << sector << "\n";
    }
    return text.str();
}

class QuellorToReport : public testing::TestWithParam<DriveCase> {};

TEST_P(QuellorToReport, FilesEqualTheModelsAndTheVerdictItsTruth) {
    const DriveCase& c = GetParam();
    simdrive::DriveSettings settings;
    settings.readOffsetSamples = c.offset;
    settings.honesty = {c.flagWrong, 0.0, c.granularity, c.late};
    report_test::SimulatedExtraction model(settings, Damage(c), discSectors, patternSeed);
    TempDir expected;
    model.Write(expected.Path(), driveName);

    TempDir dir;
    std::ofstream(dir / "drive.drive") << Description(c);
    const auto options = testing_support::StandInDriveOptions(dir.Path(), dir / "drive.drive");
    const auto extraction = RunProgram(BuiltProgram("Quellor"), {"0"}, options);
    ASSERT_EQ(extraction.exitCode, 0) << extraction.out << extraction.err;
    ASSERT_EQ(ReadFileBytes(dir / (driveName + ".wav")),
              ReadFileBytes(expected / (driveName + ".wav")));
    ASSERT_EQ(ReadFileBytes(dir / (driveName + ".c2")),
              ReadFileBytes(expected / (driveName + ".c2")));

    const auto verdict = RunProgram(
        BuiltProgram("c2report"),
        {(expected / "Reference.wav").string(), driveName + ".wav", driveName + ".c2"}, options);
    ASSERT_EQ(verdict.exitCode, 0) << verdict.err;
    const auto truth = model.Truth();
    std::string offset = c.offset > 0 ? "+" : "";
    offset += std::to_string(c.offset);
    for (const std::string& line :
         {"Read offset:         " + offset + " samples",
          "Sectors with errors: " + std::to_string(truth.sectorsWithErrors) +
              (truth.zeroFilledSectors == 0
                   ? "\n"
                   : ", of which " + std::to_string(truth.zeroFilledSectors) + " zero-filled"),
          "  missed (wrong, not flagged)       " + report::Grouped(truth.bytes.Missed())}) {
        EXPECT_NE(verdict.out.find(line), std::string::npos) << line << "\n" << verdict.out;
    }
    if (c.late) {
        EXPECT_NE(verdict.out.find("best:              1 sector late: "), std::string::npos)
            << verdict.out;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Drives, QuellorToReport,
    testing::Values(DriveCase{"NoOffset", 0, 1.0, FlagGranularity::byte, false, {}},
                    DriveCase{"PlusSix", 6, 1.0, FlagGranularity::byte, false, {}},
                    DriveCase{"MinusElevenSixtyFour", -1164, 0.9, FlagGranularity::byte, false, {}},
                    DriveCase{"PlusSixSixSeven", 667, 1.0, FlagGranularity::byte, false, {}},
                    DriveCase{"WholeSamples", 0, 0.8, FlagGranularity::sample, false, {}},
                    DriveCase{"OneSectorLate", 6, 1.0, FlagGranularity::byte, true, {}},
                    DriveCase{"Unreadable", 6, 1.0, FlagGranularity::byte, false, {500, 1001}}),
    [](const testing::TestParamInfo<DriveCase>& info) { return std::string(info.param.name); });

}  // namespace
