#include "reference/tamblin.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "reference/synthesis.h"
#include "runtime/file_channel.h"
#include "tests/support/program_run.h"
#include "tests/support/temp_dir.h"
#include "wav/wav_header.h"

namespace reference {
namespace {

using testing_support::ReadFileBytes;
using testing_support::RunProgram;
using testing_support::TempDir;

constexpr std::int64_t lastFrame = imageFrames - 1;

std::uint32_t LittleEndian32(const std::vector<unsigned char>& bytes, std::size_t offset) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value |= static_cast<std::uint32_t>(bytes.at(offset + i)) << (8 * i);
    }
    return value;
}

std::vector<unsigned char> HeaderFileBytes(std::int64_t frames, std::string_view prefix) {
    const TempDir dir;
    const auto path = dir / "header.wav";
    {
        runtime::FileChannel file;
        runtime::CreateOutputFile(path.string(), file);
        runtime::WriteBlock(file, std::as_bytes(std::span{prefix}));
        WriteWavHeader(frames, file);
        EXPECT_EQ(file.result, 0);
        runtime::CloseFile(file);
    }
    return ReadFileBytes(path);
}

TEST(WavHeader, ImageHeaderDeclaresTheWholeImage) {
    const std::vector<unsigned char> bytes = HeaderFileBytes(imageFrames, "");
    ASSERT_EQ(bytes.size(), wav::headerSize);
    EXPECT_EQ(LittleEndian32(bytes, 4), 783'216'036u);
    EXPECT_EQ(LittleEndian32(bytes, 40), 783'216'000u);
    const wav::WavHeader expected = wav::MakeWavHeader(783'216'000);
    for (std::size_t i = 0; i < wav::headerSize; ++i) {
        EXPECT_EQ(bytes[i], static_cast<unsigned char>(expected[i])) << "offset " << i;
    }
}

TEST(WavHeader, WritesAtTheCurrentPosition) {
    const std::vector<unsigned char> bytes = HeaderFileBytes(1, "abc");
    ASSERT_EQ(bytes.size(), 3 + wav::headerSize);
    EXPECT_EQ(bytes[3], 'R');
    EXPECT_EQ(LittleEndian32(bytes, 3 + 40), 4u);
}

TEST(WavHeader, LargestImageThatFitsIsAccepted) {
    // 4,294,967,248 data bytes: the largest multiple of 4 whose file length fits in 32 bits.
    const std::vector<unsigned char> bytes = HeaderFileBytes(1'073'741'812, "");
    EXPECT_EQ(LittleEndian32(bytes, 40), 4'294'967'248u);
    EXPECT_EQ(LittleEndian32(bytes, 4), 4'294'967'284u);
}

TEST(WavHeaderDeathTest, SizesBeyond32BitsAreProgrammingErrors) {
    runtime::FileChannel file;
    // Header plus data would pass 2^32.
    EXPECT_EXIT(WriteWavHeader(1'073'741'813, file), testing::ExitedWithCode(255), "");
    // The data size alone would pass 2^32.
    EXPECT_EXIT(WriteWavHeader(1'073'741'824, file), testing::ExitedWithCode(255), "");
    EXPECT_EXIT(WriteWavHeader(-1, file), testing::ExitedWithCode(255), "");
}

TEST(Progress, LinesAppearAtEveryNewHundredthAndNeverReach100Percent) {
    std::int64_t lastShown = 0;
    std::int64_t lines = 0;
    std::int64_t firstLineFrame = -1;
    for (std::int64_t frame = blockFrames - 1; frame < imageFrames; frame += blockFrames) {
        const std::int64_t p = ProgressHundredths(frame);
        if (p != lastShown) {
            ASSERT_EQ(p, lastShown + 1) << "skipped a value at frame " << frame;
            if (firstLineFrame < 0) {
                firstLineFrame = frame;
            }
            lastShown = p;
            ++lines;
        }
    }
    EXPECT_EQ(firstLineFrame, 19'991);
    EXPECT_EQ(lines, 9'999);
    EXPECT_EQ(ProgressHundredths(lastFrame), 9'999);
}

TEST(Progress, EstimateExtrapolatesElapsedTimeLinearly) {
    // 1 s for the first 19,992 frames leaves 195,784,009 frames: 9,793.7 s, truncated.
    EXPECT_EQ(RemainingSeconds(1'000, 19'991), 9'793);
    EXPECT_EQ(RemainingSeconds(0, 19'991), 0);
    EXPECT_EQ(RemainingSeconds(600'000, imageFrames / 2), 600);
    EXPECT_EQ(RemainingSeconds(86'399'999, 19'991), 846'167'684);
    EXPECT_EQ(RemainingSeconds(1'000'000, lastFrame), 0);
}

TEST(Progress, LineShape) {
    EXPECT_EQ(FormatProgressLine(1'234, 3'909).View(),
              "\r 12.3% Done - Estimated Remaining  1:05:09");
    EXPECT_EQ(FormatProgressLine(1, 0).View(), "\r  0.0% Done - Estimated Remaining  0:00:00");
    EXPECT_EQ(FormatProgressLine(9'999, 59).View(), "\r 99.9% Done - Estimated Remaining  0:00:59");
    EXPECT_EQ(FormatProgressLine(9'995, 600).View(),
              "\r 99.9% Done - Estimated Remaining  0:10:00");
    EXPECT_EQ(FormatProgressLine(5'000, 36'000 + 59 * 60 + 10).View(),
              "\r 50.0% Done - Estimated Remaining 10:59:10");
    EXPECT_EQ(FormatProgressLine(2, 360'000).View(),
              "\r  0.0% Done - Estimated Remaining 100:00:00");
}

// Every tenth shown is exact: no tenth is skipped or shown twice over a run.
TEST(Progress, ShownPercentagesStepThroughEveryTenth) {
    std::set<std::string> shown;
    for (std::int64_t p = 1; p <= 9'999; ++p) {
        shown.insert(std::string(FormatProgressLine(p, 0).View().substr(1, 5)));
    }
    EXPECT_EQ(shown.size(), 1'000u);
    EXPECT_EQ(*shown.begin(), "  0.0");
    EXPECT_EQ(*shown.rbegin(), " 99.9");
}

// ---- The built program.

testing_support::RunOptions InDirectory(const TempDir& dir) {
    testing_support::RunOptions options;
    options.workingDirectory = dir.Path();
    return options;
}

const std::string bannerLines = "\nReference CD Image Creation for Marrowby V1.0\n[^\n]+\n\n";

TEST(TamblinProgram, UncreatableFileFailsAtOnce) {
    const TempDir dir;
    std::filesystem::create_directory(dir / "Reference.wav");
    const auto run =
        RunProgram(testing_support::BuiltProgram("Tamblin"), {"ignored"}, InDirectory(dir));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(std::regex_match(run.out, std::regex(bannerLines + "Cannot create file!\n")))
        << run.out;
    EXPECT_EQ(run.err, "");
}

TEST(TamblinProgram, FullDiskIsReportedNotFinished) {
    const TempDir dir;
    std::filesystem::create_symlink("/dev/full", dir / "Reference.wav");
    const auto run = RunProgram(testing_support::BuiltProgram("Tamblin"), {}, InDirectory(dir));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(std::regex_match(
        run.out, std::regex(bannerLines + "\nCannot write file! Reference.wav is incomplete "
                                          "\\(system error [0-9]+\\)\\.\n")))
        << run.out;
}

// A file-size limit stops the image after 102,400 bytes, past the first progress line
// (block 34, frame 19,991) and before the second (block 68).
TEST(TamblinProgram, ConsoleUpToAFailedWriteAndTheImageSoFar) {
    const TempDir dir;
    const auto run = RunProgram("/bin/bash",
                                {"-c", "trap '' XFSZ; ulimit -f 100; exec \"$0\"",
                                 testing_support::BuiltProgram("Tamblin").string()},
                                InDirectory(dir));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(std::regex_match(
        run.out,
        std::regex(bannerLines +
                   "\r  0\\.0% Done - Estimated Remaining [ 0-9][0-9]+:[0-5][0-9]:[0-5][0-9]"
                   "\nCannot write file! Reference.wav is incomplete "
                   "\\(system error [0-9]+\\)\\.\n")))
        << run.out;

    const std::vector<unsigned char> image = ReadFileBytes(dir / "Reference.wav");
    ASSERT_EQ(image.size(), 102'400u);
    EXPECT_EQ(LittleEndian32(image, 40), 783'216'000u);
    for (std::size_t i = wav::headerSize; i < image.size(); ++i) {
        ASSERT_EQ(image[i], 0) << "the lead-in is silent; offset " << i;
    }
}

}  // namespace
}  // namespace reference
