// Streaming a CD-format WAV file as a disc image.
#include <gtest/gtest.h>

#include <array>

#include "simdrive/audio_source.h"
#include "simdrive/bytes.h"
#include "tests/simdrive/temp_files.h"

namespace simdrive {
namespace {

using testkit::TempPath;

void WriteBytes(const std::string& path, std::span<const uint8_t> bytes) {
    std::string error;
    auto writer = SequentialWriter::Create(path, error);
    ASSERT_TRUE(writer) << error;
    ASSERT_TRUE(writer->Write(bytes));
    ASSERT_TRUE(writer->Close());
}

std::vector<uint8_t> Header(uint16_t channels, uint32_t rate, uint16_t bits) {
    std::vector<uint8_t> header(44, 0);
    std::copy_n("RIFF", 4, header.begin());
    std::copy_n("WAVEfmt ", 8, header.begin() + 8);
    PutLe32(header, 16, 16);
    PutLe16(header, 20, 1);
    PutLe16(header, 22, channels);
    PutLe32(header, 24, rate);
    PutLe16(header, 34, bits);
    std::copy_n("data", 4, header.begin() + 36);
    PutLe32(header, 40, 4 * 588);
    return header;
}

TEST(WavSourceTest, ReadsMatchThePatternAcrossWindowBoundaries) {
    TempPath wav("roundtrip.wav");
    testkit::WritePatternWav(wav.Path(), 300, 21);
    std::string error;
    auto source = WavSource::Open(wav.Path(), error);
    ASSERT_NE(source, nullptr) << error;
    PatternSource pattern(300, 21);
    EXPECT_EQ(source->ByteCount(), pattern.ByteCount());
    // Positions around the 64-sector window edges, backwards and forwards, odd lengths.
    for (const uint64_t position :
         {0ull, 150525ull, 150527ull, 64ull * 2352 - 7, 1000ull, 300ull * 2352 - 5000, 70000ull}) {
        std::vector<uint8_t> fromFile(5000);
        std::vector<uint8_t> expected(5000);
        ASSERT_TRUE(source->Read(position, fromFile));
        ASSERT_TRUE(pattern.Read(position, expected));
        EXPECT_EQ(fromFile, expected) << position;
    }
    std::vector<uint8_t> large(200 * 2352);
    std::vector<uint8_t> expected(large.size());
    ASSERT_TRUE(source->Read(2352 * 33, large));
    ASSERT_TRUE(pattern.Read(2352 * 33, expected));
    EXPECT_EQ(large, expected);
}

TEST(WavSourceTest, SkipsOtherChunksAndTrustsTheFileOverAnOversizedHeader) {
    TempPath wav("chunks.wav");
    std::vector<uint8_t> bytes = Header(2, 44100, 16);
    bytes.resize(36);
    // An odd-sized chunk and its pad byte before the data chunk.
    const std::array<uint8_t, 12> list{'L', 'I', 'S', 'T', 3, 0, 0, 0, 'a', 'b', 'c', 0};
    bytes.insert(bytes.end(), list.begin(), list.end());
    const std::array<uint8_t, 8> data{'d', 'a', 't', 'a', 0, 0, 0, 0};
    bytes.insert(bytes.end(), data.begin(), data.end());
    PutLe32(bytes, bytes.size() - 4, 0xFFFFFFF0);  // a header written before its size was known
    bytes.resize(bytes.size() + 2352, 0x5A);
    WriteBytes(wav.Path(), bytes);
    std::string error;
    auto source = WavSource::Open(wav.Path(), error);
    ASSERT_NE(source, nullptr) << error;
    EXPECT_EQ(source->ByteCount(), 2352u);
    std::array<uint8_t, 4> first{};
    ASSERT_TRUE(source->Read(0, first));
    EXPECT_EQ(first[0], 0x5A);
}

TEST(WavSourceTest, RefusesMissingAndNonCdFiles) {
    std::string error;
    EXPECT_EQ(WavSource::Open("/nonexistent/Reference.wav", error), nullptr);
    EXPECT_NE(error.find("cannot open"), std::string::npos);
    for (const auto& header : {Header(1, 44100, 16), Header(2, 48000, 16), Header(2, 44100, 24)}) {
        TempPath wav("format.wav");
        std::vector<uint8_t> bytes = header;
        bytes.resize(44 + 2352);
        WriteBytes(wav.Path(), bytes);
        EXPECT_EQ(WavSource::Open(wav.Path(), error), nullptr);
        EXPECT_NE(error.find("16-bit stereo"), std::string::npos);
    }
    TempPath text("text.wav");
    WriteBytes(text.Path(), std::vector<uint8_t>(100, 'x'));
    EXPECT_EQ(WavSource::Open(text.Path(), error), nullptr);
    EXPECT_NE(error.find("RIFF"), std::string::npos);
}

}  // namespace
}  // namespace simdrive
