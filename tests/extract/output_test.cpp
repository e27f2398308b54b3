#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "extract/file_names.h"
#include "extract/writer.h"
#include "tests/support/temp_dir.h"

namespace {

using extract::MakeOutputNames;
using testing_support::ReadFileBytes;
using testing_support::TempDir;

std::string Sanitized(std::string text) {
    text.push_back('\0');
    extract::SanitizeFileName(text);
    return text.substr(0, text.find('\0'));
}

TEST(FileNames, SpacesGoAndNineCharactersBecomeHyphens) {
    EXPECT_EQ(Sanitized("VENDOR  CD-RW/DVD 8X"), "VENDORCD-RW-DVD8X");
    EXPECT_EQ(Sanitized("  a  b  "), "ab");
    EXPECT_EQ(Sanitized("\\\"/*':><|"), "---------");
    EXPECT_EQ(Sanitized("what?"), "what?");
    EXPECT_EQ(Sanitized("A\x1B[2JB\tC\nD\x7F\x01"), "A-[2JB-C-D--");
    EXPECT_EQ(Sanitized("\x80\xFF"), "\x80\xFF");  // bytes above ASCII stay
    EXPECT_EQ(Sanitized(""), "");
}

TEST(FileNames, BothNamesFromOneIdentification) {
    const auto names = MakeOutputNames("VENDOR  CD-RW/DVD 8X");
    EXPECT_STREQ(names.wav.data(), "VENDORCD-RW-DVD8X.wav");
    EXPECT_STREQ(names.c2.data(), "VENDORCD-RW-DVD8X.c2");
    const auto empty = MakeOutputNames("");
    EXPECT_STREQ(empty.wav.data(), ".wav");
    EXPECT_STREQ(empty.c2.data(), ".c2");
}

// The writer against a real pool and real files: audio whole, C2 records cut to 294 bytes.
class WriterTest : public testing::Test {
protected:
    void SetUp() override {
        pool.InitSlotPool(audio, c2);
        shared.pool = &pool;
    }

    void Start() {
        writer = std::thread(
            [this] { extract::WriterThread(reinterpret_cast<std::intptr_t>(&shared)); });
    }

    // Fills a free slot with a pattern keyed by `tag` and hands it over.
    void Hand(std::int32_t sectors, std::uint8_t tag) {
        extract::BufferSlot& slot = pool.TakeSlot(pool.freeQueue);
        for (std::size_t i = 0; i < slot.audio.size(); ++i) {
            slot.audio[i] = static_cast<std::byte>(tag + i % 251);
        }
        for (std::size_t i = 0; i < slot.c2.size(); ++i) {
            slot.c2[i] = static_cast<std::byte>(i % 296 < 294 ? tag ^ (i % 296) : 0xEE);
        }
        slot.sectorCount = sectors;
        pool.PutSlot(pool.filledQueue, slot);
    }

    void Finish() {
        Hand(0, 0);
        pool.writerDoneEvent->Wait();
        writer.join();
    }

    std::vector<std::byte> audio = std::vector<std::byte>(extract::audioAreaBytes);
    std::vector<std::byte> c2 = std::vector<std::byte>(extract::c2AreaBytes);
    extract::SlotPool pool;
    extract::WriterShared shared;
    std::thread writer;
    TempDir dir;
};

TEST_F(WriterTest, WritesAudioWholeAndTheFirst294BytesOfEachRecord) {
    runtime::CreateOutputFile((dir / "a.wav").string(), shared.wavFile);
    runtime::CreateOutputFile((dir / "a.c2").string(), shared.c2File);
    Start();
    Hand(24, 1);
    Hand(3, 2);
    Finish();
    runtime::CloseFile(shared.wavFile);
    runtime::CloseFile(shared.c2File);

    const auto wavBytes = ReadFileBytes(dir / "a.wav");
    const auto c2Bytes = ReadFileBytes(dir / "a.c2");
    ASSERT_EQ(wavBytes.size(), 27u * 2352);
    ASSERT_EQ(c2Bytes.size(), 27u * 294);
    EXPECT_FALSE(shared.Failed());
    EXPECT_EQ(shared.audioBytesWritten, 27 * 2352);
    for (std::size_t i = 0; i < wavBytes.size(); ++i) {
        const unsigned tag = i < 24 * 2352 ? 1 : 2;
        const std::size_t inSlot = i < 24 * 2352 ? i : i - 24 * 2352;
        ASSERT_EQ(wavBytes[i], static_cast<unsigned char>(tag + inSlot % 251)) << i;
    }
    for (std::size_t i = 0; i < c2Bytes.size(); ++i) {
        const unsigned tag = i < 24 * 294 ? 1 : 2;
        const std::size_t inSlot = i < 24 * 294 ? i : i - 24 * 294;
        ASSERT_EQ(c2Bytes[i], static_cast<unsigned char>(tag ^ (inSlot % 294))) << i;
    }
    EXPECT_EQ(pool.freeQueue.count, extract::SlotCount);
}

TEST_F(WriterTest, TheFirstFailedWriteStopsWritingAndIsKept) {
    runtime::CreateOutputFile("/dev/full", shared.wavFile);
    runtime::CreateOutputFile((dir / "a.c2").string(), shared.c2File);
    Start();
    Hand(24, 1);
    Hand(24, 2);
    Finish();
    EXPECT_EQ(shared.failedFile.load(), extract::FailedFile::wav);
    EXPECT_EQ(shared.failedError, ENOSPC);
    EXPECT_EQ(shared.audioBytesWritten, 0);
    runtime::CloseFile(shared.c2File);
    EXPECT_TRUE(ReadFileBytes(dir / "a.c2").empty());
    EXPECT_EQ(pool.freeQueue.count, extract::SlotCount);  // every slot came back
}

}  // namespace
