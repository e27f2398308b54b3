// The built c2report as a user runs it: its console, exit codes, and the files it writes.
#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "report/output/text.h"
#include "tests/report/simulated_extraction.h"
#include "tests/support/program_run.h"
#include "tests/support/temp_dir.h"
#include "wav/wav_header.h"

namespace {

using testing_support::BuiltProgram;
using testing_support::ReadFileBytes;
using testing_support::ReadFileText;
using testing_support::RunProgram;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

std::vector<unsigned char> Wav(std::uint32_t dataBytes, std::uint8_t fill = 0,
                               wav::PcmFormat format = wav::cdAudio) {
    const auto header = wav::MakeWavHeader(dataBytes, format);
    std::vector<unsigned char> bytes(header.size() + dataBytes, fill);
    std::transform(header.begin(), header.end(), bytes.begin(),
                   [](std::byte b) { return static_cast<unsigned char>(b); });
    return bytes;
}

class C2ReportCli : public testing::Test {
protected:
    testing_support::RunResult Run(const std::vector<std::string>& arguments) {
        testing_support::RunOptions options;
        options.workingDirectory = dir_.Path();
        return RunProgram(BuiltProgram("c2report"), arguments, options);
    }
    void ExpectRefused(const std::vector<std::string>& arguments, const std::string& message) {
        const auto run = Run(arguments);
        EXPECT_EQ(run.err, message + "\n");
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.exitCode, 1);
    }
    TempDir dir_;
};

TEST_F(C2ReportCli, RefusesBadInputWithAClearMessage) {
    const std::uint32_t bytes = 10 * 2352;
    WriteFileBytes(dir_ / "Reference.wav", Wav(bytes));
    WriteFileBytes(dir_ / "Drive.wav", Wav(bytes));
    WriteFileBytes(dir_ / "Drive.c2", std::vector<unsigned char>(10 * 294));
    const std::string usage =
        "Usage : c2report <Reference.wav> <drive>.wav <drive>.c2\n"
        "        c2report --compare <drive>.report.json ...\n"
        "        c2report --study <Reference.wav> <drive>.study.json\n"
        "        c2report --verify <Reference.wav> <drive>.submission.json";
    ExpectRefused({}, usage);
    ExpectRefused({"--study", "Reference.wav"}, usage);
    ExpectRefused({"Reference.wav", "Drive.wav"}, usage);
    ExpectRefused({"--compare"}, "Usage : c2report --compare <drive>.report.json ...");
    ExpectRefused({"Missing.wav", "Drive.wav", "Drive.c2"}, "Cannot open \"Missing.wav\".");
    ExpectRefused({"Reference.wav", "Drive.wav", "Missing.c2"}, "Cannot open \"Missing.c2\".");

    WriteFileBytes(dir_ / "Mono.wav", Wav(bytes, 0, {1, 1, 44100, 88200, 2}));
    ExpectRefused({"Reference.wav", "Mono.wav", "Drive.c2"},
                  "\"Mono.wav\" is not a 16-bit stereo 44,100 Hz PCM WAV file.");
    WriteFileBytes(dir_ / "Fast.wav", Wav(bytes, 0, {1, 2, 48000, 192000, 4}));
    ExpectRefused({"Fast.wav", "Drive.wav", "Drive.c2"},
                  "\"Fast.wav\" is not a 16-bit stereo 44,100 Hz PCM WAV file.");
    WriteFileBytes(dir_ / "Text.wav", std::vector<unsigned char>(100, 'x'));
    ExpectRefused({"Reference.wav", "Text.wav", "Drive.c2"},
                  "\"Text.wav\" is not a 16-bit stereo 44,100 Hz PCM WAV file.");

    WriteFileBytes(dir_ / "Short.c2", std::vector<unsigned char>(10 * 294 - 1));
    ExpectRefused({"Reference.wav", "Drive.wav", "Short.c2"},
                  "\"Short.c2\" holds 2939 bytes; 10 sectors of audio need 294 per sector, 2940.");
    auto cut = Wav(bytes);
    cut.resize(cut.size() - 100);
    WriteFileBytes(dir_ / "Cut.wav", cut);
    ExpectRefused({"Reference.wav", "Cut.wav", "Drive.c2"},
                  "\"Cut.wav\" is truncated: its header declares 23520 bytes of audio, the file "
                  "holds 23420.");
    // Silence aligns anywhere, so it cannot be aligned at all.
    ExpectRefused({"Reference.wav", "Drive.wav", "Drive.c2"},
                  "The extraction holds no audio with enough structure to find its read offset "
                  "(is it silent?).");
}

TEST_F(C2ReportCli, NamesAWavThatEndsInThePartOfAFrame) {
    // A disk that filled up in the middle of a frame: the header says so, or says nothing.
    auto declared = Wav(10 * 2352 + 2);
    WriteFileBytes(dir_ / "Declared.wav", declared);
    WriteFileBytes(dir_ / "Drive.c2", std::vector<unsigned char>(10 * 294));
    ExpectRefused({"Declared.wav", "Declared.wav", "Drive.c2"},
                  "\"Declared.wav\" does not end on a whole frame: its 23522 bytes of audio are "
                  "not a multiple of 4 (was it cut short?).");
    auto unfinished = Wav(10 * 2352 + 3, 1);
    std::fill(unfinished.begin() + 40, unfinished.begin() + 44, 0);  // data length never written
    WriteFileBytes(dir_ / "Unfinished.wav", unfinished);
    WriteFileBytes(dir_ / "Reference.wav", Wav(10 * 2352));
    const auto run = Run({"Reference.wav", "Unfinished.wav", "Drive.c2"});
    EXPECT_EQ(run.err,
              "\"Unfinished.wav\" does not end on a whole frame: its 23523 bytes of audio are not "
              "a multiple of 4 (was it cut short?).\n");
    EXPECT_EQ(run.exitCode, 1);
}

TEST_F(C2ReportCli, NeverWritesOverAnInput) {
    report_test::SimulatedExtraction extraction({}, {}, 400);
    extraction.Write(dir_.Path());
    // The pointers named where the per-sector table goes, by another spelling of the path.
    std::filesystem::rename(dir_ / "Drive.c2", dir_ / "Drive.report.csv");
    const auto pointers = ReadFileBytes(dir_ / "Drive.report.csv");
    ExpectRefused({"Reference.wav", "Drive.wav", "./Drive.report.csv"},
                  "\"./Drive.report.csv\" is an input and also where c2report writes "
                  "\"Drive.report.csv\"; it will not overwrite an input. Rename the file.");
    EXPECT_EQ(ReadFileBytes(dir_ / "Drive.report.csv"), pointers);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "Drive.report.svg"));
    // The reference given under the chart's name.
    std::filesystem::rename(dir_ / "Reference.wav", dir_ / "Drive.report.svg");
    std::filesystem::rename(dir_ / "Drive.report.csv", dir_ / "Drive.c2");
    ExpectRefused({"Drive.report.svg", "Drive.wav", "Drive.c2"},
                  "\"Drive.report.svg\" is an input and also where c2report writes "
                  "\"Drive.report.svg\"; it will not overwrite an input. Rename the file.");
    EXPECT_FALSE(std::filesystem::exists(dir_ / "Drive.report.csv"));
}

// A 513-sector disc read 589 samples late: the comparison's second block asks the reference
// for bytes wholly past its end, which must read as silence.
TEST_F(C2ReportCli, AnOffsetPastTheReferencesEndComparesWithSilence) {
    simdrive::DriveSettings settings;
    settings.readOffsetSamples = 589;
    report_test::SimulatedExtraction extraction(settings, {}, 513);
    extraction.Write(dir_.Path());
    const auto run = Run({"Reference.wav", "Drive.wav", "Drive.c2"});
    EXPECT_EQ(run.signal, 0);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("Read offset:         +589 samples"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Sectors with errors: 0\n"), std::string::npos) << run.out;
}

// Two sectors of run-out zeros past the reference's end and an offset of +667: the sector
// pushed past the end and the run-out are extra, the reference's first sector missing.
TEST_F(C2ReportCli, NamesExtraAndMissingSectorsApart) {
    simdrive::DriveSettings settings;
    settings.readOffsetSamples = 667;
    report_test::SimulatedExtraction extraction(settings, {}, 400, 11, {400, 2});
    extraction.Write(dir_.Path());
    const auto run = Run({"Reference.wav", "Drive.wav", "Drive.c2"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("Reference:           Reference.wav (NOT the genuine image: its "
                           "SHA-256 differs)\n"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("Sectors read:        402 (00:05:27)\n"
                           "Sectors compared:    399 (sectors 0-398); the reference has 400\n"
                           "Extra sectors:       3 sectors past the reference's end (sectors "
                           "399-401), all zeros; not compared\n"
                           "Missing sectors:     1 sector of the reference not in the extraction "
                           "(1 at its start, 0 at its end)\n"),
              std::string::npos)
        << run.out;
    const std::string csv = ReadFileText(dir_ / "Drive.report.csv");
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 400);

    // Less than 90 % of the reference: not enough to judge the drive by.
    report_test::SimulatedExtraction part({}, {}, 359, 11, {400, 0});
    part.Write(dir_.Path());
    ExpectRefused({"Reference.wav", "Drive.wav", "Drive.c2"},
                  "Only 359 of the reference's 400 sectors are in the extraction (less than 90 %): "
                  "too little to judge the drive by.");
}

TEST_F(C2ReportCli, ASummaryThatCannotBeWrittenIsAnError) {
#ifdef _WIN32
    GTEST_SKIP() << "needs /dev/full";
#else
    report_test::SimulatedExtraction extraction({}, {}, 400);
    extraction.Write(dir_.Path());
    testing_support::RunOptions options;
    options.workingDirectory = dir_.Path();
    const auto run =
        RunProgram("/bin/sh",
                   {"-c", "exec \"$0\" \"$@\" > /dev/full", BuiltProgram("c2report").string(),
                    "Reference.wav", "Drive.wav", "Drive.c2"},
                   options);
    EXPECT_EQ(run.err, "Cannot write the summary to standard output.\n");
    EXPECT_EQ(run.exitCode, 2);
#endif
}

TEST_F(C2ReportCli, RefusesAnExtractionOfAnotherDisc) {
    report_test::SimulatedExtraction ours({}, {}, 400, 1);
    ours.Write(dir_.Path());
    std::filesystem::rename(dir_ / "Reference.wav", dir_ / "Ours.wav");
    report_test::SimulatedExtraction other({}, {}, 400, 2);
    other.Write(dir_.Path());
    ExpectRefused({"Ours.wav", "Drive.wav", "Drive.c2"},
                  "No read offset within +/-10000 samples fits: the extraction does not match "
                  "the reference (0 of 24 windows agree).");
}

TEST_F(C2ReportCli, FindsSwappedChannels) {
    report_test::SimulatedExtraction extraction({}, {}, 400);
    extraction.Write(dir_.Path());
    auto bytes = ReadFileBytes(dir_ / "Drive.wav");
    for (std::size_t i = 44; i + 4 <= bytes.size(); i += 4) {
        std::swap(bytes[i], bytes[i + 2]);
        std::swap(bytes[i + 1], bytes[i + 3]);
    }
    WriteFileBytes(dir_ / "Drive.wav", bytes);
    const auto run = Run({"Reference.wav", "Drive.wav", "Drive.c2"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("LEFT AND RIGHT CHANNELS SWAPPED"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Sectors with errors: 0\n"), std::string::npos) << run.out;
}

// A 10,000-sector disc (2:13) with three damaged stretches, read with a +6 offset by a drive
// that flags most wrong bytes and a few right ones.
TEST_F(C2ReportCli, ReportsTheVerdictAndDrawsTheDamageWhereItIs) {
    simdrive::DriveSettings settings;
    settings.readOffsetSamples = 6;
    settings.honesty = {0.7, 0.01, simdrive::FlagGranularity::byte, false};
    simdrive::DiscSpec spec;
    spec.damage.scratches = {{2000, 40, 0.02, 16}, {7000, 5, 0.1, 8}};
    spec.damage.unreadable = {9000};
    report_test::SimulatedExtraction extraction(settings, spec, 10000);
    extraction.Write(dir_.Path(), "SIMDRIVECD-ROM");
    const auto truth = extraction.Truth();

    const auto run = Run({"Reference.wav", "SIMDRIVECD-ROM.wav", "SIMDRIVECD-ROM.c2"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    auto has = [&](const std::string& text) {
        EXPECT_NE(run.out.find(text), std::string::npos) << "missing: " << text << "\n" << run.out;
    };
    has("Read offset:         +6 samples (the drive's sample i is the reference's sample i + 6), "
        "channels in order\n");
    has("Match:               24 of 24 probe windows agree;");
    has("Sectors read:        10,000 (02:13:25)\n");
    has("Sectors with errors: " + std::to_string(truth.sectorsWithErrors) + ", of which " +
        std::to_string(truth.zeroFilledSectors) +
        " zero-filled (not delivered: unreadable) in 1 runs\n");
    has("  missed (wrong, not flagged)       " + report::Grouped(truth.bytes.Missed()));
    has("  best:              as delivered (no sector or byte shift fits better)\n");
    has("Per-sector table:    SIMDRIVECD-ROM.report.csv\nChart:               "
        "SIMDRIVECD-ROM.report.svg\n");

    const std::string csv = ReadFileText(dir_ / "SIMDRIVECD-ROM.report.csv");
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 10001);
    EXPECT_EQ(csv.substr(0, csv.find('\n')),
              "sector,time,wrong_bytes,flagged_bytes,detected_bytes,missed_bytes,"
              "false_flag_bytes,wrong_samples,flagged_samples,detected_samples,missed_samples,"
              "false_flag_samples,zero_filled");
    EXPECT_NE(csv.find("\n9000,02:00:00,"), std::string::npos);

    // Every bar of the chart sits over damage, and every damaged stretch has a bar.
    const std::string svg = ReadFileText(dir_ / "SIMDRIVECD-ROM.report.svg");
    const std::regex bar(
        "<rect class=\"(detected|missed|falseflag|zerofilled)\"[^>]*"
        "data-first-sector=\"(\\d+)\" data-end-sector=\"(\\d+)\"");
    const std::vector<std::pair<std::int64_t, std::int64_t>> damaged{
        {2000, 2041}, {7000, 7006}, {8976, 9024}};
    std::set<std::string> kinds;
    std::set<std::size_t> drawn;
    for (auto it = std::sregex_iterator(svg.begin(), svg.end(), bar); it != std::sregex_iterator();
         ++it) {
        kinds.insert((*it)[1]);
        const std::int64_t first = std::stoll((*it)[2]), end = std::stoll((*it)[3]);
        bool over = false;
        for (std::size_t d = 0; d < damaged.size(); ++d) {
            if (first < damaged[d].second && damaged[d].first < end) {
                over = true;
                drawn.insert(d);
            }
        }
        EXPECT_TRUE(over) << "bar over clean sectors " << first << "-" << end;
    }
    EXPECT_EQ(drawn.size(), damaged.size());
    EXPECT_EQ(kinds, (std::set<std::string>{"detected", "missed", "falseflag", "zerofilled"}));
    EXPECT_NE(svg.find("minutes into the disc"), std::string::npos);
    EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n");
}

}  // namespace
