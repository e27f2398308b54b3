// The built Quellor reading simulated discs end to end: both files byte for byte against the
// drive model's own delivery, the console, and the failures a user must see.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "simdrive/description.h"
#include "simdrive/scsi.h"
#include "tests/support/program_run.h"
#include "tests/support/quellor_console.h"
#include "tests/support/small_file_system.h"
#include "tests/support/standin_drives.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::ReadFileBytes;
using testing_support::RunResult;
using testing_support::TempDir;

const std::string& banner = testing_support::quellorBanner;

// A 100-sector disc's progress, not to a terminal: a new line for each tenth of the disc.
const std::string progress100 = "\r 24.0% Done\n\r 48.0% Done\n\r 72.0% Done\n\r 96.0% Done\n";

constexpr std::size_t sectorBytes = 2352;
constexpr std::size_t c2Bytes = 294;

// One drive at adapter 0, target 0 with `sectors` of pattern audio and the given extra keys.
std::string Drive(
    std::int64_t sectors, const std::string& extra,
    const std::string& identification = "vendor = \"SIM\"\nproduct = \"TEST DRIVE\"\n") {
    return "[drive]\n" + identification + "disc = pattern " + std::to_string(sectors) +
           " 11\ndamage_seed = 5\n" + extra;
}

class Extraction : public testing::Test {
protected:
    RunResult Run(const std::string& description, const std::string& argument = "0",
                  const std::map<std::string, std::string>& environment = {}) {
        description_ = description;
        std::ofstream(dir_ / "drives.drive") << description;
        testing_support::RunOptions options = testing_support::StandInDriveOptions(
            dir_.Path(), dir_ / "drives.drive",
            logCommands_ ? dir_ / "commands.log" : std::filesystem::path());
        options.environment.insert(environment.begin(), environment.end());
        return testing_support::RunProgram(testing_support::BuiltProgram("Quellor"), {argument},
                                           options);
    }

    // The audio and pointers the drive delivers, read from a twin of the described drive
    // with plain READ CD commands, independently of the form Quellor chose.
    void ExpectFilesHoldTheDrivesDelivery(const std::string& baseName, std::int64_t sectors) {
        std::string error;
        auto twin = simdrive::DriveSet::Parse(description_ + "read_cd = 0x10 0x12\nc2_late = no\n",
                                              dir_.Path().string(), {}, "twin", error);
        ASSERT_TRUE(twin) << error;
        simdrive::Drive& drive = twin->At(0);
        const auto wavBytes = ReadFileBytes(dir_ / (baseName + ".wav"));
        const auto c2File = ReadFileBytes(dir_ / (baseName + ".c2"));
        ASSERT_EQ(wavBytes.size(), 44 + sectorBytes * static_cast<std::size_t>(sectors));
        ASSERT_EQ(c2File.size(), c2Bytes * static_cast<std::size_t>(sectors));
        std::array<std::uint8_t, sectorBytes + c2Bytes> block{};
        std::array<std::uint8_t, 18> sense{};
        for (std::int64_t s = 0; s < sectors; ++s) {
            const auto readCd = simdrive::ReadCdCommand(static_cast<std::uint32_t>(s), 1, 0x12);
            block.fill(0);
            (void)drive.Execute(readCd, simdrive::Direction::in, block, sense);
            const auto at = static_cast<std::size_t>(s);
            ASSERT_EQ(
                std::memcmp(wavBytes.data() + 44 + at * sectorBytes, block.data(), sectorBytes), 0)
                << "audio of sector " << s;
            const auto truth = drive.Truth(s);
            ASSERT_EQ(std::memcmp(c2File.data() + at * c2Bytes, truth.flagged.data(), c2Bytes), 0)
                << "C2 pointers of sector " << s;
        }
        ExpectHeaderDataSize(baseName + ".wav", sectorBytes * static_cast<std::size_t>(sectors));
    }

    void ExpectHeaderDataSize(const std::string& name, std::size_t dataSize) {
        const auto bytes = ReadFileBytes(dir_ / name);
        ASSERT_GE(bytes.size(), 44u);
        auto field = [&](std::size_t offset) {
            return std::uint32_t(bytes[offset]) | std::uint32_t(bytes[offset + 1]) << 8 |
                   std::uint32_t(bytes[offset + 2]) << 16 | std::uint32_t(bytes[offset + 3]) << 24;
        };
        EXPECT_EQ(field(40), dataSize);
        EXPECT_EQ(field(4), dataSize + 36);
    }

    // The commands the drive received, one line each (CDB, and " > " data for data-out).
    std::vector<std::string> CommandsReceived() const {
        return testing_support::CommandLog(dir_ / "commands.log");
    }

    TempDir dir_;
    std::string description_;
    bool logCommands_ = false;
};

struct ModeCase {
    const char* name;
    const char* keys;
    const char* identification;
    const char* baseName;
};

void PrintTo(const ModeCase& c, std::ostream* os) {
    *os << c.name;
}

class EveryC2Form : public Extraction, public testing::WithParamInterface<ModeCase> {};

// Each drive offers exactly one C2 form, so a complete, correct extraction shows that
// detection found it and that its wire layout was split right.
TEST_P(EveryC2Form, FilesHoldEverySectorAtItsOffset) {
    const ModeCase& mode = GetParam();
    const std::int64_t sectors = 200;
    const auto run = Run(Drive(
        sectors, std::string(mode.keys) + "scratch = 60 30 0.05 8\n" + "bad_sector = 150 0.2\n",
        mode.identification));
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(run.err, "");
    ExpectFilesHoldTheDrivesDelivery(mode.baseName, sectors);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, EveryC2Form,
    testing::Values(ModeCase{"ReadCdWithBlockErrorByte", "read_cd = 0x10 0x14\n",
                             "vendor = \"SIM\"\nproduct = \"FOURTEEN\"\n", "SIMFOURTEEN"},
                    ModeCase{"VendorD8", "read_cd = none\nvendor_d8 = 0x00 0x04\n",
                             "vendor = \"SIM\"\nproduct = \"D8/ONLY\"\n", "SIMD8-ONLY"},
                    ModeCase{"DensitySwitch",
                             "read_cd = none\ndensity_c2 = yes\nc2_granularity = sample\n",
                             "vendor = \"SIM\"\nproduct = \"DENSITY:C2\"\n", "SIMDENSITY-C2"},
                    ModeCase{"ReadCdC2Only", "read_cd = 0x10 0x12\nread_offset = +6\n",
                             "vendor = \"PLEXTOR\"\nproduct = \"CD-R   PX-TEST\"\n",
                             "PLEXTORCD-RPX-TEST"}),
    [](const testing::TestParamInfo<ModeCase>& info) { return std::string(info.param.name); });

struct ProgressCase {
    std::int64_t leadOut;
    const char* console;
};

void PrintTo(const ProgressCase& c, std::ostream* os) {
    *os << c.leadOut;
}

class Progress : public Extraction, public testing::WithParamInterface<ProgressCase> {};

TEST_P(Progress, OneLineAfterEachFullChunk) {
    const auto run = Run(Drive(GetParam().leadOut, ""));
    EXPECT_EQ(run.out, banner + GetParam().console + "\n");
    EXPECT_EQ(run.exitCode, 0);
    ExpectFilesHoldTheDrivesDelivery("SIMTESTDRIVE", GetParam().leadOut);
}

INSTANTIATE_TEST_SUITE_P(Chunks, Progress,
                         testing::Values(ProgressCase{1, ""}, ProgressCase{24, ""},
                                         ProgressCase{25, "\r 96.0% Done"},
                                         ProgressCase{48, "\r 50.0% Done"},
                                         ProgressCase{72, "\r 33.3% Done\n\r 66.7% Done"}));

// A long disc, with both outputs going to the null device: only the console matters here.
TEST_F(Extraction, ALongDiscShowsOneHundredPercentBeforeItsLastChunk) {
    std::filesystem::create_symlink("/dev/null", dir_ / "SIMTESTDRIVE.wav");
    std::filesystem::create_symlink("/dev/null", dir_ / "SIMTESTDRIVE.c2");
    const auto run = Run(Drive(60'000, ""));
    EXPECT_EQ(run.exitCode, 0);
    // 59,952 and 59,976 of 60,000 sectors: 99.92 shows 99.9, and 99.96 rounds up to 100.0,
    // which begins a line of its own.
    const std::string ending = "\r 99.9% Done\n\r100.0% Done\n";
    ASSERT_GE(run.out.size(), ending.size());
    EXPECT_EQ(run.out.substr(run.out.size() - ending.size()), ending);
    // 2,499 chunks, but each text once: 0.0 to 100.0 in tenths, eleven lines.
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\r'), 1001);
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 3 + 11);
}

TEST_F(Extraction, ADiscOfNinetyNineTracksIsReadToItsLeadOut) {
    std::string starts;
    for (int track = 0; track < 99; ++track) {
        starts += ' ';
        starts += std::to_string(track * 3);
    }
    const auto run = Run(Drive(330, "tracks =" + starts + "\n"));
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    ExpectFilesHoldTheDrivesDelivery("SIMTESTDRIVE", 330);
}

TEST_F(Extraction, ExistingFilesAreReplaced) {
    testing_support::WriteFileBytes(dir_ / "SIMTESTDRIVE.wav",
                                    std::vector<unsigned char>(1'000'000, 1));
    testing_support::WriteFileBytes(dir_ / "SIMTESTDRIVE.c2",
                                    std::vector<unsigned char>(1'000'000, 1));
    const auto run = Run(Drive(30, ""));
    EXPECT_EQ(run.exitCode, 0);
    ExpectFilesHoldTheDrivesDelivery("SIMTESTDRIVE", 30);
}

TEST_F(Extraction, OnlySpacesTheNineCharactersAndControlCharactersChangeInTheNames) {
    const auto run = Run(Drive(30, "", "vendor = \" A:B\"\nproduct = \"C?D \t\x1B[2J\x7F\"\n"));
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_TRUE(std::filesystem::exists(dir_ / "A-BC?D--[2J-.wav"));
    EXPECT_TRUE(std::filesystem::exists(dir_ / "A-BC?D--[2J-.c2"));
}

TEST_F(Extraction, NoC2FormLeavesNoFile) {
    const auto run = Run(Drive(30, "read_cd = 0x10\n"));
    EXPECT_EQ(run.out, banner + "No matching C2 mode found!\n\n");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "SIMTESTDRIVE.wav"));
    EXPECT_FALSE(std::filesystem::exists(dir_ / "SIMTESTDRIVE.c2"));
}

// As a kernel's emulated CD drive does: MODE SELECT is taken, yet READ(10) answers GOOD with
// 2,048 of the 2,646 bytes asked for. That is no C2 form.
TEST_F(Extraction, AProbeAnsweredShortFindsNoC2Form) {
    const auto run =
        Run(Drive(30, "read_cd = none\ndensity_c2 = yes\nshort_transfer = 0x28 2048\n"));
    EXPECT_EQ(run.out, banner + "No matching C2 mode found!\n\n");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "SIMTESTDRIVE.wav"));
    EXPECT_FALSE(std::filesystem::exists(dir_ / "SIMTESTDRIVE.c2"));
}

// A chunk answered short has failed; read sector by sector, every sector arrives whole.
TEST_F(Extraction, ChunksAnsweredShortAreReadAgainSectorBySector) {
    // Ten blocks of 2,648 bytes at most: the one-sector probe and the 4-sector last chunk read
    // whole, every 24-sector chunk comes back short.
    const auto run = Run(Drive(100, "read_cd = 0x10 0x14\nshort_transfer = 0xBE 26480\n"));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, banner + progress100);
    ExpectFilesHoldTheDrivesDelivery("SIMTESTDRIVE", 100);
}

struct TocCase {
    const char* name;
    const char* keys;
    const char* message;
};

void PrintTo(const TocCase& c, std::ostream* os) {
    *os << c.name;
}

class UnusableToc : public Extraction, public testing::WithParamInterface<TocCase> {};

// A table of contents that gives nothing to read is said to be wrong, and no file is written.
TEST_P(UnusableToc, IsNamedAndLeavesNoFile) {
    const auto run = Run(Drive(100, GetParam().keys));
    EXPECT_EQ(run.out, banner + GetParam().message + "\n\n");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "");
    EXPECT_FALSE(std::filesystem::exists(dir_ / "SIMTESTDRIVE.wav"));
    EXPECT_FALSE(std::filesystem::exists(dir_ / "SIMTESTDRIVE.c2"));
}

// Track 1 at 0, track 2 at 50, and a lead-out at 0 that only the capacity could repair.
#define TWO_TRACKS_NO_LEAD_OUT                                                                   \
    "toc_reply = 00 1a 01 02 00 10 01 00 00 00 00 00 00 10 02 00 00 00 00 32 00 10 aa 00 00 00 " \
    "00 00\n"

INSTANTIATE_TEST_SUITE_P(
    Replies, UnusableToc,
    testing::Values(
        TocCase{"LeadOutAtZero",
                "toc_reply = 00 12 01 01 00 10 01 00 00 00 00 00 00 10 aa 00 00 00 00 00\n",
                "The disc's table of contents leaves no sector to read!"},
        TocCase{"OnlyALeadOut", "toc_reply = 00 0a 01 01 00 10 aa 00 00 00 00 64\n",
                "The disc's table of contents lists no track!"},
        TocCase{"FirstTrackAboveLast",
                "toc_reply = 00 12 02 01 00 10 02 00 00 00 00 00 00 10 aa 00 00 00 00 64\n",
                "The disc's table of contents puts its first track after its last!"},
        TocCase{"CapacityOfFourBillionSectors",
                TWO_TRACKS_NO_LEAD_OUT "capacity_last_lba = 0xffffffff\n",
                "The disc's table of contents has no usable lead-out!"},
        TocCase{"CapacityOfTwoBillionSectors",
                TWO_TRACKS_NO_LEAD_OUT "capacity_last_lba = 0x7fffffff\n",
                "The disc's table of contents has no usable lead-out!"},
        TocCase{"CapacityPastAnyDisc", TWO_TRACKS_NO_LEAD_OUT "capacity_last_lba = 1826199\n",
                "The disc's table of contents has no usable lead-out!"},
        TocCase{"CapacityBeforeTheLastTrack", TWO_TRACKS_NO_LEAD_OUT "capacity_last_lba = 20\n",
                "The disc's table of contents has no usable lead-out!"}),
    [](const testing::TestParamInfo<TocCase>& info) { return std::string(info.param.name); });

// The same table with a capacity that fits: the capacity's lead-out is read up to.
TEST_F(Extraction, APlausibleCapacityRepairsTheLeadOut) {
    const auto run = Run(Drive(100, TWO_TRACKS_NO_LEAD_OUT "capacity_last_lba = 79\n"));
    EXPECT_EQ(run.exitCode, 0) << run.out;
    ExpectFilesHoldTheDrivesDelivery("SIMTESTDRIVE", 80);
}

const std::string inquiry = "12 00 00 00 38 00";
const std::string senseCapabilities = "1a 08 2a 00 22 00";
const std::string switchToC2Blocks = "15 00 00 00 0c 00 > 00 00 00 08 82 00 00 00 00 00 0a 56";
const std::string switchToDataBlocks = "15 00 00 00 0c 00 > 00 00 00 08 00 00 00 00 00 00 08 00";

// A drive whose only C2 form is the density switch: detection sends the switch, then the
// mode-2 read sends it again before its READ(10); at the end the drive gets its 2,048-byte
// data blocks back.
TEST_F(Extraction, ADensityOnlyDriveIsSwitchedTwiceForTheProbeAndBackAtTheEnd) {
    logCommands_ = true;
    const auto run = Run(Drive(30, "read_cd = none\ndensity_c2 = yes\nc2_pointer_bit = no\n"));
    EXPECT_EQ(run.exitCode, 0) << run.out;
    const std::vector<std::string> detection{
        inquiry,          senseCapabilities, "d8 00 00 00 00 00 00 00 00 01 04 00",
        switchToC2Blocks, switchToC2Blocks,  "28 00 00 00 00 00 00 00 01 00"};
    // Finding the drive, one TEST UNIT READY that finds it ready, the table of contents.
    const std::vector<std::string> start{inquiry, "00 00 00 00 00 00",
                                         "43 00 00 00 00 00 00 03 24 00",
                                         "43 00 02 00 00 00 00 0d c4 00"};
    const std::vector<std::string> commands = CommandsReceived();
    ASSERT_GE(commands.size(), 16u);
    EXPECT_EQ(std::vector(commands.begin(), commands.begin() + 4), start);
    EXPECT_EQ(std::vector(commands.begin() + 4, commands.begin() + 10), detection);
    EXPECT_EQ(std::vector(commands.begin() + 10, commands.begin() + 16), detection);
    EXPECT_EQ(commands.back(), switchToDataBlocks);
    EXPECT_EQ(std::count(commands.begin(), commands.end(), switchToDataBlocks), 1);
    ExpectFilesHoldTheDrivesDelivery("SIMTESTDRIVE", 30);
}

TEST_F(Extraction, ADriveTriedWithTheSwitchIsSwitchedBackEvenWithoutAForm) {
    logCommands_ = true;
    const auto run = Run(Drive(30, "read_cd = 0x10\ndensity_c2 = yes\nshort_transfer = 0x28 0\n"));
    EXPECT_EQ(run.out, banner + "No matching C2 mode found!\n\n");
    EXPECT_EQ(CommandsReceived().back(), switchToDataBlocks);
}

TEST_F(Extraction, ADriveNeverSwitchedIsNotSwitchedBack) {
    logCommands_ = true;
    const auto run = Run(Drive(30, ""));
    EXPECT_EQ(run.exitCode, 0);
    const std::vector<std::string> commands = CommandsReceived();
    EXPECT_EQ(std::count_if(commands.begin(), commands.end(),
                            [](const std::string& c) { return c.starts_with("15 "); }),
              0);
}

// An unreadable start does not blame the drive: the form is found further on.
TEST_F(Extraction, AScratchAtTheStartStillFindsTheForm) {
    const auto run = Run(Drive(200, "unreadable = 0 1 2\n"));
    EXPECT_EQ(run.exitCode, 0);
    const std::string ending =
        "\nReads failed for 3 sectors, the first at sector 0; they are stored as zeros.\n";
    ASSERT_GE(run.out.size(), ending.size());
    EXPECT_EQ(run.out.substr(run.out.size() - ending.size()), ending);
    ExpectFilesHoldTheDrivesDelivery("SIMTESTDRIVE", 200);
}

TEST_F(Extraction, ADiscUnreadableWhereverTheFormsAreTriedIsBlamed) {
    const auto run = Run(Drive(200, "unreadable = 0 150\n"));
    EXPECT_EQ(run.out, banner + "The disc could not be read where the C2 modes are tested!\n\n");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "SIMTESTDRIVE.wav"));
    EXPECT_FALSE(std::filesystem::exists(dir_ / "SIMTESTDRIVE.c2"));
}

TEST_F(Extraction, AFileThatCannotBeCreatedIsReported) {
    std::filesystem::create_directory(dir_ / "SIMTESTDRIVE.c2");  // a folder stands in the way
    const auto run = Run(Drive(30, ""));
    EXPECT_EQ(run.out, banner + "Cannot create file!\n\n");
    EXPECT_EQ(run.exitCode, 1);
}

TEST_F(Extraction, AFullDiskStopsTheRunWithExitCodeOne) {
    std::filesystem::create_symlink("/dev/full", dir_ / "SIMTESTDRIVE.c2");
    const auto run = Run(Drive(500, ""));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.out.find("\nCannot write file SIMTESTDRIVE.c2: No space left on device! The "
                           "files end where writing stopped.\n"),
              std::string::npos)
        << run.out;
    // No C2 byte could be stored, so the audio file keeps no sector either.
    EXPECT_EQ(ReadFileBytes(dir_ / "SIMTESTDRIVE.wav").size(), 44u);
    ExpectHeaderDataSize("SIMTESTDRIVE.wav", 0);
}

// A file system that fills up part-way: both files end on the same whole sector, and the
// header says how many the audio file holds.
TEST_F(Extraction, AFileSystemThatFillsUpLeavesWholeSectorsInBothFiles) {
    const std::filesystem::path mount = dir_ / "small";
    const testing_support::SmallFileSystem small(mount, "384k");
    if (!small.Mounted()) {
        GTEST_SKIP() << testing_support::SmallFileSystem::kWhyNot;
    }
    std::ofstream(dir_ / "drives.drive") << Drive(500, "");
    testing_support::RunOptions options;
    options.workingDirectory = mount;
    options.environment["LD_LIBRARY_PATH"] = std::string(MARROWBY_STANDIN_DIR) + "/both";
    options.environment["SIMDRIVE_DESCRIPTION"] = (dir_ / "drives.drive").string();
    options.environment["SIMDRIVE_ASPI_COMPLETION"] = "early";
    description_ = Drive(500, "");
    const auto run =
        testing_support::RunProgram(testing_support::BuiltProgram("Quellor"), {"0"}, options);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.out.find("\nCannot write file SIMTESTDRIVE."), std::string::npos) << run.out;

    const auto wavSize = std::filesystem::file_size(mount / "SIMTESTDRIVE.wav");
    const auto c2Size = std::filesystem::file_size(mount / "SIMTESTDRIVE.c2");
    ASSERT_EQ(c2Size % c2Bytes, 0u);
    const std::size_t sectors = c2Size / c2Bytes;
    EXPECT_GT(sectors, 0u);
    EXPECT_LT(sectors, 500u);
    EXPECT_EQ(wavSize, 44 + sectors * sectorBytes);
    for (const char* name : {"SIMTESTDRIVE.wav", "SIMTESTDRIVE.c2"}) {
        std::filesystem::copy_file(mount / name, dir_ / name);
    }
    ExpectFilesHoldTheDrivesDelivery("SIMTESTDRIVE", static_cast<std::int64_t>(sectors));
}

// The manager faults in the read of sector 1,200 of 3,000; the console, redirected to a file
// here, keeps everything shown up to then.
TEST_F(Extraction, AFaultMidwayKeepsTheConsoleOutputShownBeforeIt) {
    const auto run = Run(Drive(3000, ""), "0", {{"SIMDRIVE_ASPI_FAULT_AT", "1200"}});
    EXPECT_EQ(run.exitCode, 255);
    EXPECT_NE(run.err.find("Unhandled exception\nat "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(" -> ACCESS_VIOLATION\n"), std::string::npos) << run.err;
    std::string progress;
    for (int chunk = 1; chunk <= 1200 / 24; ++chunk) {
        std::array<char, 16> text{};
        const double percent = chunk * 24 * 100.0 / 3000;
        std::snprintf(text.data(), text.size(), "\r%5.1f%% Done", percent);
        // Each tenth of the disc begins a line.
        if (chunk > 1 && static_cast<int>(percent / 10) !=
                             static_cast<int>((chunk - 1) * 24 * 100.0 / 3000 / 10)) {
            progress += '\n';
        }
        progress += text.data();
    }
    EXPECT_EQ(run.out, banner + progress);
}

// A chunk that fails is read again sector by sector: only the sectors that fail on their own
// are lost (stored as zeros and counted); the others in their chunk keep what the drive read.
TEST_F(Extraction, OnlySectorsThatFailAloneAreLostAndCounted) {
    const auto run = Run(Drive(100, "unreadable = 30\nunreadable = 31\nunreadable = 97\n"));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, banner + progress100 +
                           "Reads failed for 3 sectors, the first at sector 30; they are stored "
                           "as zeros.\n");
    const auto wavBytes = ReadFileBytes(dir_ / "SIMTESTDRIVE.wav");
    ASSERT_EQ(wavBytes.size(), 44 + 100 * sectorBytes);
    for (const std::size_t sector : {30U, 31U, 97U}) {
        for (std::size_t i = 44 + sector * sectorBytes; i < 44 + (sector + 1) * sectorBytes; ++i) {
            ASSERT_EQ(wavBytes[i], 0) << i;
        }
    }
    // Every other sector holds what the drive delivers; the unreadable ones deliver nothing.
    ExpectFilesHoldTheDrivesDelivery("SIMTESTDRIVE", 100);
}

}  // namespace
