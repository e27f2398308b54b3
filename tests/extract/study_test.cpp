// The built Quellor studying simulated drives end to end: every pass's files byte for byte
// against the drive model's truth for that form and speed, the study file's fields, the
// console and the exit code.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "extract/speed_list.h"
#include "simdrive/description.h"
#include "simdrive/scsi.h"
#include "tests/support/program_run.h"
#include "tests/support/quellor_console.h"
#include "tests/support/standin_drives.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::ReadFileBytes;
using testing_support::RunResult;
using Json = nlohmann::json;

const std::string& banner = testing_support::quellorBanner;
constexpr std::size_t sectorBytes = 2352;
constexpr std::size_t c2Bytes = 294;

const std::string threeForms =
    "[drive]\nvendor = \"SIM\"\nproduct = \"STUDY DRIVE\"\nrevision = \"1.2A\"\n"
    "vendor_specific = \"2005/03/14 BUILD 7\"\nserial = \"  SN 0042  \"\n"
    "read_cd = 0x10 0x14\nvendor_d8 = 0x00 0x04\ndensity_c2 = yes\n"
    "disc = pattern 120 11\ndamage_seed = 5\nscratch = 30 40 0.05 8\n"
    "read_speeds = 4x 8x 16x 24x 48x\n"
    "c2_form = readcd14 granularity sector\n"
    "c2_form = d8 lag 295 flag_wrong 0.8\n"
    "c2_form = density granularity sample lag 40\n"
    "c2_speed = 24x flag_good 0.01\n";

class Study : public testing::Test {
protected:
    RunResult Run(const std::string& description, const std::vector<std::string>& arguments) {
        description_ = description;
        std::ofstream(dir_ / "drives.drive") << description;
        const auto options = testing_support::StandInDriveOptions(
            dir_.Path(), dir_ / "drives.drive", dir_ / "commands.log");
        return testing_support::RunProgram(testing_support::BuiltProgram("Quellor"), arguments,
                                           options);
    }

    Json StudyFile(const std::string& name) const {
        std::ifstream file(dir_ / name);
        return Json::parse(file);
    }

    // The audio of each sector, and the pointers the form delivers with it at that speed, as
    // the model of the described drive says; the header declares exactly `sectors`.
    void ExpectPassFiles(const std::string& base, simdrive::C2Form form, std::uint32_t speed,
                         std::int64_t sectors) {
        std::string error;
        auto twin = simdrive::DriveSet::Parse(description_ + "not_ready_reads = 1 0\n",
                                              dir_.Path().string(), {}, "twin", error);
        ASSERT_TRUE(twin) << error;
        simdrive::Drive& drive = twin->At(0);
        const auto wav = ReadFileBytes(dir_ / (base + ".wav"));
        const auto c2 = ReadFileBytes(dir_ / (base + ".c2"));
        const auto count = static_cast<std::size_t>(sectors);
        ASSERT_EQ(wav.size(), 44 + sectorBytes * count) << base;
        ASSERT_EQ(c2.size(), c2Bytes * count) << base;
        EXPECT_EQ(wav[40] | wav[41] << 8 | wav[42] << 16 | wav[43] << 24, sectorBytes * count);
        std::array<std::uint8_t, sectorBytes> audio{};
        std::array<std::uint8_t, 18> sense{};
        for (std::size_t s = 0; s < count; ++s) {
            const auto read = simdrive::ReadCdCommand(static_cast<std::uint32_t>(s), 1, 0x10);
            (void)drive.Execute(read, simdrive::Direction::in, audio, sense);
            ASSERT_EQ(std::memcmp(wav.data() + 44 + s * sectorBytes, audio.data(), sectorBytes), 0)
                << base << " audio of sector " << s;
            const auto truth = drive.Truth(static_cast<std::int64_t>(s), form, speed);
            ASSERT_EQ(std::memcmp(c2.data() + s * c2Bytes, truth.delivered.data(), c2Bytes), 0)
                << base << " pointers of sector " << s;
        }
    }

    std::vector<std::string> Commands() const {
        return testing_support::CommandLog(dir_ / "commands.log");
    }

    testing_support::TempDir dir_;
    std::string description_;
};

const std::string progress120 = "\r 20.0% Done\n\r 40.0% Done\n\r 60.0% Done\n\r 80.0% Done\n";

TEST_F(Study, ThreeFormsAtTwoSpeedsGiveSixPassesEqualToTheModel) {
    const auto run = Run(threeForms, {"--study", "0", "--speeds", "8x,max"});
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(run.err, "");
    std::string console = banner + "Forms found: readcd14, d8, density\n";
    const std::array<const char*, 3> forms{"readcd14", "d8", "density"};
    int number = 0;
    for (const char* form : forms) {
        for (const auto& [speed, kBps] : {std::pair{"8x", "1412"}, std::pair{"max", "8468"}}) {
            console += "Pass " + std::to_string(++number) + " of 6: " + form + " at " + speed +
                       ", the drive reports " + kBps + " kB/s, into SIMSTUDYDRIVE." + form + "." +
                       speed + ".wav\n" + progress120;
        }
    }
    console += "6 of 6 passes completed; the study is in SIMSTUDYDRIVE.study.json\n";
    EXPECT_EQ(run.out, console);

    const Json study = StudyFile("SIMSTUDYDRIVE.study.json");
    EXPECT_EQ(study["format"], "Quellor study");
    EXPECT_EQ(study["formatVersion"], 1);
    // The unit is the hash of the serial without its blanks, never the serial itself; the
    // stand-in manager's addresses are not the OS's, so the bus stays unknown.
    EXPECT_EQ(study["drive"],
              Json({{"vendor", "SIM"},
                    {"product", "STUDY DRIVE"},
                    {"revision", "1.2A"},
                    {"vendorSpecific", "2005/03/14 BUILD 7  "},
                    {"unit", "818292c8a6d4644bf8ff71baf4c40c5bafdfc20aaad34d34de43b818758783d9"},
                    {"transport", "unknown"}}));
    const auto bytes = ReadFileBytes(dir_ / "SIMSTUDYDRIVE.study.json");
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()).find("SN 0042"), std::string::npos);
    EXPECT_EQ(study["formsFound"], Json({"readcd14", "d8", "density"}));
    ASSERT_EQ(study["passes"].size(), 6u);
    const std::array<simdrive::C2Form, 3> models{
        simdrive::C2Form::readCd14, simdrive::C2Form::vendorD8, simdrive::C2Form::density};
    for (std::size_t i = 0; i < 6; ++i) {
        const Json& pass = study["passes"][i];
        const std::string speed = i % 2 == 0 ? "8x" : "max";
        const std::string base = std::string("SIMSTUDYDRIVE.") + forms[i / 2] + "." + speed;
        EXPECT_EQ(pass["form"], forms[i / 2]);
        EXPECT_EQ(pass["speedRequested"], speed);
        EXPECT_EQ(pass["speedSet"], true);
        EXPECT_EQ(pass["speedReportedKBps"], i % 2 == 0 ? 1412 : 8468);
        EXPECT_EQ(pass["wav"], base + ".wav");
        EXPECT_EQ(pass["c2"], base + ".c2");
        EXPECT_EQ(pass["sectors"], 120);
        EXPECT_EQ(pass["failedSectors"], 0);
        EXPECT_GE(pass["seconds"].get<double>(), 0.0);
        EXPECT_EQ(pass["completed"], true);
        EXPECT_TRUE(pass["error"].is_null());
        ExpectPassFiles(base, models[i / 2], i % 2 == 0 ? 1412 : 8468, 120);
    }
    // Every form really answers differently here, or the comparison above proves little.
    EXPECT_NE(ReadFileBytes(dir_ / "SIMSTUDYDRIVE.readcd14.max.c2"),
              ReadFileBytes(dir_ / "SIMSTUDYDRIVE.d8.max.c2"));
    EXPECT_NE(ReadFileBytes(dir_ / "SIMSTUDYDRIVE.d8.8x.c2"),
              ReadFileBytes(dir_ / "SIMSTUDYDRIVE.d8.max.c2"));
}

const std::string setSpeedMax = "bb 00 ff ff ff ff 00 00 00 00 00 00";
const std::string switchToDataBlocks = "15 00 00 00 0c 00 > 00 00 00 08 00 00 00 00 00 00 08 00";

TEST_F(Study, TheDriveIsLeftAtDataBlocksAndItsFullSpeed) {
    const auto run = Run(threeForms, {"--study", "0", "--speeds", "max,8x"});
    ASSERT_EQ(run.exitCode, 0) << run.out;
    const std::vector<std::string> commands = Commands();
    ASSERT_FALSE(commands.empty());
    EXPECT_EQ(commands.back(), setSpeedMax);
    const auto lastSelect = std::find_if(commands.rbegin(), commands.rend(),
                                         [](const std::string& c) { return c.starts_with("15 "); });
    ASSERT_NE(lastSelect, commands.rend());
    EXPECT_EQ(*lastSelect, switchToDataBlocks);
}

TEST_F(Study, WithoutSpeedsEachFormIsReadOnceAtTheDrivesOwnSpeedWhichIsLeftAlone) {
    const auto run = Run(threeForms, {"--study", "0"});
    ASSERT_EQ(run.exitCode, 0) << run.out;
    const Json study = StudyFile("SIMSTUDYDRIVE.study.json");
    ASSERT_EQ(study["passes"].size(), 3u);
    EXPECT_TRUE(study["passes"][1]["speedRequested"].is_null());
    EXPECT_EQ(study["passes"][1]["speedSet"], false);
    EXPECT_EQ(study["passes"][1]["speedReportedKBps"], 8468);
    EXPECT_EQ(study["passes"][1]["wav"], "SIMSTUDYDRIVE.d8.wav");
    ExpectPassFiles("SIMSTUDYDRIVE.d8", simdrive::C2Form::vendorD8, 8468, 120);
    for (const std::string& command : Commands()) {
        EXPECT_FALSE(command.starts_with("bb ")) << command;
    }
}

// Every form is tried, even the READ CD 0x12 form on a drive whose name the plain run would
// not offer it to, and one whose pointers are always zero is kept: it answers.
TEST_F(Study, AReadCdTwelveDriveAndZeroPointersAreStudiedToo) {
    const auto run =
        Run("[drive]\nvendor = \"SIM\"\nproduct = \"TWELVE\"\nread_cd = 0x10 0x12 0x14\n"
            "c2_pointer_bit = no\ndisc = pattern 120 3\nscratch = 10 20 0.05 8\n"
            "c2_form = readcd14 zero block_error errors\n",
            {"--study", "0"});
    ASSERT_EQ(run.exitCode, 0) << run.out;
    const Json twelve = StudyFile("SIMTWELVE.study.json");
    EXPECT_EQ(twelve["formsFound"], Json({"readcd14", "readcd12"}));
    // Neither a serial page nor vendor bytes: both null, not empty texts.
    EXPECT_EQ(twelve["drive"]["vendorSpecific"], nullptr);
    EXPECT_EQ(twelve["drive"]["unit"], nullptr);
    EXPECT_EQ(ReadFileBytes(dir_ / "SIMTWELVE.readcd14.c2"),
              std::vector<unsigned char>(120 * c2Bytes, 0));
    ExpectPassFiles("SIMTWELVE.readcd14", simdrive::C2Form::readCd14, 9152, 120);
    ExpectPassFiles("SIMTWELVE.readcd12", simdrive::C2Form::readCd12, 9152, 120);
}

TEST_F(Study, ADriveThatRefusesSetCdSpeedIsReadAtItsOwnSpeed) {
    const auto run =
        Run("[drive]\nvendor = \"SIM\"\nproduct = \"STUBBORN\"\nread_cd = 0x10 0x14\n"
            "set_cd_speed = no\nread_speeds = 16x 32x\ndisc = pattern 120 3\n",
            {"--study", "0", "--speeds", "8x"});
    ASSERT_EQ(run.exitCode, 0) << run.out;
    EXPECT_NE(run.out.find("Pass 1 of 1: readcd14 at 8x (speed not set), the drive reports 5645 "
                           "kB/s, into SIMSTUBBORN.readcd14.8x.wav\n"),
              std::string::npos)
        << run.out;
    const Json pass = StudyFile("SIMSTUBBORN.study.json")["passes"][0];
    EXPECT_EQ(pass["speedRequested"], "8x");
    EXPECT_EQ(pass["speedSet"], false);
    EXPECT_EQ(pass["speedReportedKBps"], 5645);
    EXPECT_EQ(pass["completed"], true);
    ExpectPassFiles("SIMSTUBBORN.readcd14.8x", simdrive::C2Form::readCd14, 5645, 120);
}

// Detection reads twice (READ CD 0x14, then the READ(10) the drive refuses); the pass's
// fourth chunk and the re-read of its first sector find the tray open.
TEST_F(Study, APassCutShortIsRecordedAndTheStudyGoesOn) {
    const auto run =
        Run("[drive]\nvendor = \"SIM\"\nproduct = \"OPENED\"\nread_cd = 0x10 0x14\n"
            "disc = pattern 120 3\nscratch = 10 20 0.05 8\nnot_ready_reads = 6 2\n",
            {"--study", "0", "--speeds", "8x,max"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, banner + "Forms found: readcd14\n" +
                           "Pass 1 of 2: readcd14 at 8x, the drive reports 9152 kB/s, into "
                           "SIMOPENED.readcd14.8x.wav\n\r 20.0% Done\n\r 40.0% Done\n\r 60.0% Done\n" +
                           "The disc was removed at sector 72. The pass ends there; its files "
                           "hold the sectors before it.\n" +
                           "Pass 2 of 2: readcd14 at max, the drive reports 9152 kB/s, into "
                           "SIMOPENED.readcd14.max.wav\n" +
                           progress120 +
                           "1 of 2 passes completed; the study is in SIMOPENED.study.json\n");
    const Json study = StudyFile("SIMOPENED.study.json");
    EXPECT_EQ(study["passes"][0]["completed"], false);
    EXPECT_EQ(study["passes"][0]["error"], "The disc was removed at sector 72.");
    EXPECT_EQ(study["passes"][0]["sectors"], 72);
    EXPECT_EQ(study["passes"][1]["completed"], true);
    ExpectPassFiles("SIMOPENED.readcd14.8x", simdrive::C2Form::readCd14, 9152, 72);
    ExpectPassFiles("SIMOPENED.readcd14.max", simdrive::C2Form::readCd14, 9152, 120);
}

TEST_F(Study, AFullDiskStopsTheStudyAndTheFileSaysWhatCompleted) {
    std::filesystem::create_symlink("/dev/full", dir_ / "SIMFULL.readcd14.max.c2");
    const auto run =
        Run("[drive]\nvendor = \"SIM\"\nproduct = \"FULL\"\nread_cd = 0x10 0x14\n"
            "disc = pattern 120 3\n",
            {"--study", "0", "--speeds", "8x,max,4x"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.out.find("Cannot write file SIMFULL.readcd14.max.c2: No space left on device! "
                           "The files end where writing stopped.\n"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("1 of 3 passes completed"), std::string::npos) << run.out;
    const Json passes = StudyFile("SIMFULL.study.json")["passes"];
    ASSERT_EQ(passes.size(), 2u);
    EXPECT_EQ(passes[0]["completed"], true);
    EXPECT_EQ(passes[1]["completed"], false);
    EXPECT_EQ(passes[1]["error"],
              "Cannot write file SIMFULL.readcd14.max.c2: No space left on device!");
    EXPECT_EQ(passes[1]["sectors"], 0);
}

// The study file cannot be made (a folder holds its name): nothing is read, no temporary stays,
// and the closing line names no study file.
TEST_F(Study, AStudyFileThatCannotBeWrittenStopsTheStudyBeforeItReads) {
    std::filesystem::create_directory(dir_ / "SIMBLOCKED.study.json");
    const auto run =
        Run("[drive]\nvendor = \"SIM\"\nproduct = \"BLOCKED\"\nread_cd = 0x10 0x14\n"
            "disc = pattern 120 3\n",
            {"--study", "0"});
    EXPECT_EQ(run.out, banner + "Forms found: readcd14\n" +
                           "Cannot write file SIMBLOCKED.study.json!\n" +
                           "0 of 1 passes completed.\n");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "SIMBLOCKED.study.json.tmp"));
    EXPECT_FALSE(std::filesystem::exists(dir_ / "SIMBLOCKED.readcd14.wav"));
}

TEST_F(Study, NoWorkingFormIsSaidAsTodayAndWritesNothing) {
    const auto run = Run("[drive]\nread_cd = 0x10\ndisc = pattern 120 3\n", {"--study", "0"});
    EXPECT_EQ(run.out, banner + "No matching C2 mode found!\n\n");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.Path()),
                            std::filesystem::directory_iterator()),
              2);  // the description and the command log
}

const std::string usage =
    "Usage : Quellor <Drive number>\n"
    "        Quellor --study <Drive number> [--speeds LIST]\n"
    "LIST: read speeds separated by commas, each Nx (N x 176.4 kB/s, N from 1 to\n"
    "371) or max, none twice; for instance --speeds 8x,max\n\n";

class BadStudyArguments : public Study,
                          public testing::WithParamInterface<std::vector<std::string>> {};

TEST_P(BadStudyArguments, ShowTheUsageReadNothingAndEndWithOne) {
    const auto run = Run(threeForms, GetParam());
    EXPECT_EQ(run.out, banner + usage);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(Commands().empty() || Commands().size() < 3);  // discovery's inquiry at most
    EXPECT_FALSE(std::filesystem::exists(dir_ / "SIMSTUDYDRIVE.study.json"));
}

INSTANTIATE_TEST_SUITE_P(
    Lists, BadStudyArguments,
    testing::Values(std::vector<std::string>{"--study", "0", "--speeds", "0x"},
                    std::vector<std::string>{"--study", "0", "--speeds", "fast"},
                    std::vector<std::string>{"--study", "0", "--speeds", "8x,,max"},
                    std::vector<std::string>{"--study", "0", "--speeds", "8x,"},
                    std::vector<std::string>{"--study", "0", "--speeds", ""},
                    std::vector<std::string>{"--study", "0", "--speeds", "372x"},
                    std::vector<std::string>{"--study", "0", "--speeds", "8x,8x"},
                    std::vector<std::string>{"--study", "0", "--speeds"},
                    std::vector<std::string>{"--study", "0", "--fast", "8x"},
                    std::vector<std::string>{"--study"}));

struct SpeedCase {
    const char* list;
    std::vector<std::uint16_t> kBps;
};

TEST(SpeedList, NxIsRoundedUpToWholeKilobytesAndMaxIsTheFastest) {
    for (const SpeedCase& c :
         {SpeedCase{"1x", {177}}, SpeedCase{"8x,max", {1412, 0xFFFF}},
          SpeedCase{"48x,4x", {8468, 706}}, SpeedCase{"371x", {65445}}, SpeedCase{"10x", {1764}}}) {
        const auto speeds = extract::ParseSpeedList(c.list);
        ASSERT_TRUE(speeds) << c.list;
        std::vector<std::uint16_t> kBps;
        for (const auto& speed : *speeds) {
            kBps.push_back(speed.kBps);
        }
        EXPECT_EQ(kBps, c.kBps) << c.list;
    }
    EXPECT_FALSE(extract::ParseSpeedList("08x"));
    EXPECT_FALSE(extract::ParseSpeedList("max,max"));
    EXPECT_FALSE(extract::ParseSpeedList("8X"));
}

}  // namespace
