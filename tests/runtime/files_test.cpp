#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "runtime/file_channel.h"
#include "tests/support/temp_dir.h"

namespace {

using runtime::FileChannel;
using testing_support::ReadFileBytes;
using testing_support::TempDir;

std::vector<std::byte> Bytes(std::initializer_list<int> values) {
    std::vector<std::byte> bytes;
    for (int v : values) {
        bytes.push_back(static_cast<std::byte>(v));
    }
    return bytes;
}

TEST(FileChannel, CreateReplacesALongerFileWithAnEmptyOne) {
    TempDir dir;
    testing_support::WriteFileBytes(dir / "old.bin", std::vector<unsigned char>(5000, 7));
    FileChannel file;
    runtime::CreateOutputFile((dir / "old.bin").string(), file);
    ASSERT_EQ(file.result, 0);
    EXPECT_TRUE(file.isDisk);
    runtime::CloseFile(file);
    EXPECT_EQ(file.result, 0);
    EXPECT_FALSE(file.IsOpen());
    EXPECT_TRUE(ReadFileBytes(dir / "old.bin").empty());
}

TEST(FileChannel, FailuresLeaveTheOsErrorNumber) {
    TempDir dir;
    FileChannel missing;
    runtime::CreateOutputFile((dir / "no" / "such.bin").string(), missing);
    EXPECT_EQ(missing.result, ENOENT);
    EXPECT_FALSE(missing.IsOpen());

    const auto data = Bytes({1, 2, 3});
    runtime::WriteBlock(missing, data);
    EXPECT_EQ(missing.result, EBADF);
    EXPECT_EQ(missing.bytesMoved, 0);

    FileChannel tooLong;
    runtime::CreateOutputFile(std::string(300, 'a'), tooLong);
    EXPECT_EQ(tooLong.result, ENAMETOOLONG);
}

TEST(FileChannel, AFullDeviceReportsNoSpace) {
    FileChannel full;
    runtime::CreateOutputFile("/dev/full", full);
    ASSERT_EQ(full.result, 0);
    EXPECT_FALSE(full.isDisk);
    runtime::WriteBlock(full, Bytes({1, 2, 3}));
    EXPECT_EQ(full.result, ENOSPC);
}

TEST(FileChannel, ZeroByteWriteMovesNothing) {
    TempDir dir;
    FileChannel file;
    runtime::CreateOutputFile((dir / "f").string(), file);
    runtime::WriteBlock(file, {});
    EXPECT_EQ(file.result, 0);
    EXPECT_EQ(file.bytesMoved, 0);
}

}  // namespace
