#include "reference/tamblin.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>
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

bool AllDigits(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// The console after its opening block (empty line, banner, a notice, empty line); empty when
// that block is wrong.
std::optional<std::string_view> AfterBanner(std::string_view out) {
    constexpr std::string_view opening = "\nReference CD Image Creation for Marrowby V1.0\n";
    if (!out.starts_with(opening)) {
        return std::nullopt;
    }
    out.remove_prefix(opening.size());
    const std::size_t noticeEnd = out.find('\n');
    if (noticeEnd == 0 || noticeEnd == std::string_view::npos ||
        out.substr(noticeEnd).substr(0, 2) != "\n\n") {
        return std::nullopt;
    }
    return out.substr(noticeEnd + 2);
}

// "h:mm:ss" with the hours right-justified in at least two characters.
bool IsEstimate(std::string_view text) {
    if (text.size() < 8 || text[text.size() - 3] != ':' || text[text.size() - 6] != ':') {
        return false;
    }
    const std::string_view hours = text.substr(0, text.size() - 6);
    const std::string_view minutes = text.substr(text.size() - 5, 2);
    const std::string_view seconds = text.substr(text.size() - 2);
    const std::string_view hourDigits = hours.front() == ' ' ? hours.substr(1) : hours;
    return AllDigits(hourDigits) && (hours.front() != ' ' || hourDigits.size() == 1) &&
           AllDigits(minutes) && minutes[0] < '6' && AllDigits(seconds) && seconds[0] < '6';
}

bool IsWriteFailureReport(std::string_view text) {
    constexpr std::string_view start =
        "\nCannot write file! Reference.wav is incomplete (system error ";
    constexpr std::string_view end = ").\n";
    return text.starts_with(start) && text.ends_with(end) &&
           AllDigits(text.substr(start.size(), text.size() - start.size() - end.size()));
}

TEST(TamblinProgram, UncreatableFileFailsAtOnce) {
    const TempDir dir;
    std::filesystem::create_directory(dir / "Reference.wav");
    const auto run =
        RunProgram(testing_support::BuiltProgram("Tamblin"), {"ignored"}, InDirectory(dir));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(AfterBanner(run.out), "Cannot create file!\n") << run.out;
    EXPECT_EQ(run.err, "");
}

// Both failures below are made with Linux means: /dev/full and a file-size limit.
#ifdef _WIN32
constexpr bool canMakeWriteFailures = false;
#else
constexpr bool canMakeWriteFailures = true;
#endif

TEST(TamblinProgram, FullDiskIsReportedNotFinished) {
    if (!canMakeWriteFailures) {
        GTEST_SKIP() << "needs /dev/full";
    }
    const TempDir dir;
    std::filesystem::create_symlink("/dev/full", dir / "Reference.wav");
    const auto run = RunProgram(testing_support::BuiltProgram("Tamblin"), {}, InDirectory(dir));
    EXPECT_EQ(run.exitCode, 1);
    const auto rest = AfterBanner(run.out);
    ASSERT_TRUE(rest) << run.out;
    EXPECT_TRUE(IsWriteFailureReport(*rest)) << run.out;
}

// A file-size limit stops the image after 102,400 bytes, past the first progress line
// (block 34, frame 19,991) and before the second (block 68).
TEST(TamblinProgram, ConsoleUpToAFailedWriteAndTheImageSoFar) {
    if (!canMakeWriteFailures) {
        GTEST_SKIP() << "needs bash and a file-size limit";
    }
    const TempDir dir;
    const auto run = RunProgram("/bin/bash",
                                {"-c", "trap '' XFSZ; ulimit -f 100; exec \"$0\"",
                                 testing_support::BuiltProgram("Tamblin").string()},
                                InDirectory(dir));
    EXPECT_EQ(run.exitCode, 1);
    const auto rest = AfterBanner(run.out);
    ASSERT_TRUE(rest) << run.out;
    constexpr std::string_view firstLine = "\r  0.0% Done - Estimated Remaining ";
    ASSERT_TRUE(rest->starts_with(firstLine)) << run.out;
    const std::size_t reportStart = rest->find('\n');
    ASSERT_NE(reportStart, std::string_view::npos) << run.out;
    EXPECT_TRUE(IsEstimate(rest->substr(firstLine.size(), reportStart - firstLine.size())))
        << run.out;
    EXPECT_TRUE(IsWriteFailureReport(rest->substr(reportStart))) << run.out;

    const std::vector<unsigned char> image = ReadFileBytes(dir / "Reference.wav");
    ASSERT_EQ(image.size(), 102'400u);
    EXPECT_EQ(LittleEndian32(image, 40), 783'216'000u);
    for (std::size_t i = wav::headerSize; i < image.size(); ++i) {
        ASSERT_EQ(image[i], 0) << "the lead-in is silent; offset " << i;
    }
}

}  // namespace
}  // namespace reference
