#include <gtest/gtest.h>

#include <vector>

#include "runtime/file_channel.h"
#include "tests/support/temp_dir.h"
#include "wav/wav_header.h"

namespace {

using runtime::FileChannel;
using testing_support::ReadFileBytes;
using testing_support::TempDir;

TEST(WavHeader, DataSizeZeroIsTheEmptyCdAudioHeader) {
    const std::vector<int> expected = {
        0x52, 0x49, 0x46, 0x46, 0x24, 0x00, 0x00, 0x00, 0x57, 0x41, 0x56, 0x45, 0x66, 0x6D, 0x74,
        0x20, 0x10, 0x00, 0x00, 0x00, 0x01, 0x00, 0x02, 0x00, 0x44, 0xAC, 0x00, 0x00, 0x10, 0xB1,
        0x02, 0x00, 0x04, 0x00, 0x10, 0x00, 0x64, 0x61, 0x74, 0x61, 0x00, 0x00, 0x00, 0x00};
    const auto header = wav::MakeWavHeader(0);
    ASSERT_EQ(header.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(static_cast<int>(header[i]), expected[i]) << "byte " << i;
    }
}

TEST(WavHeader, SizesOfALongDisc) {
    const auto header = wav::MakeWavHeader(705'600'000);
    auto field = [&](std::size_t offset) {
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < 4; ++i) {
            value |= static_cast<std::uint32_t>(header[offset + i]) << (8 * i);
        }
        return value;
    };
    EXPECT_EQ(field(4), 705'600'036u);
    EXPECT_EQ(field(40), 705'600'000u);
}

TEST(WavHeader, RewriteKeepsTheAudioAfterIt) {
    TempDir dir;
    FileChannel file;
    runtime::CreateOutputFile((dir / "a.wav").string(), file);
    wav::StoreWavHeader(file, 0);
    ASSERT_EQ(file.result, 0);
    std::vector<std::byte> audio(2352 * 3);
    for (std::size_t i = 0; i < audio.size(); ++i) {
        audio[i] = static_cast<std::byte>(i * 31 + 5);
    }
    runtime::WriteBlock(file, audio);
    wav::StoreWavHeader(file, static_cast<std::int64_t>(audio.size()));
    ASSERT_EQ(file.result, 0);
    runtime::CloseFile(file);

    const auto bytes = ReadFileBytes(dir / "a.wav");
    ASSERT_EQ(bytes.size(), 44 + audio.size());
    const auto header = wav::MakeWavHeader(static_cast<std::uint32_t>(audio.size()));
    for (std::size_t i = 0; i < 44; ++i) {
        EXPECT_EQ(bytes[i], static_cast<unsigned char>(header[i]));
    }
    for (std::size_t i = 0; i < audio.size(); ++i) {
        ASSERT_EQ(bytes[44 + i], static_cast<unsigned char>(audio[i])) << "audio byte " << i;
    }
}

TEST(WavHeaderDeathTest, SizeBeyondTheFormatIsAProgrammingError) {
    FileChannel file;
    EXPECT_EXIT(wav::StoreWavHeader(file, 4'294'967'252LL), testing::ExitedWithCode(255),
                "ASSIGN-RANGE");
}

}  // namespace
