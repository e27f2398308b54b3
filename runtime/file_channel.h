// Files as channels that never throw: every operation leaves the OS error number in `result`.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "runtime/os_handle.h"

namespace runtime {

class FileChannel {
public:
    FileChannel() = default;
    FileChannel(const FileChannel&) = delete;
    FileChannel& operator=(const FileChannel&) = delete;
    ~FileChannel();  // closes a handle that is still open

    std::int32_t result = 0;  // 0 after success, else the OS error number
    OsHandle handle = invalidHandle;
    std::int64_t bytesMoved = 0;  // by the last operation
    bool isDisk = false;          // regular file: positioning allowed

    [[nodiscard]] bool IsOpen() const { return handle != invalidHandle; }
};

// Longest file name accepted; a longer one fails with the OS's "name too long" error.
inline constexpr std::size_t fileNameLimit = 260;

// Creates the file, or empties an existing one; read and write access.
void CreateOutputFile(std::string_view name, FileChannel& file);
// Writes all of `data` (retrying short writes); result 0 or the error of the failing call.
void WriteBlock(FileChannel& file, std::span<const std::byte> data);
// Next write goes to byte `position` from the start of the file.
void SetFilePosition(FileChannel& file, std::int64_t position);
// Cuts a disk file to `length` bytes (or extends it with zeros); the position is kept.
void SetFileLength(FileChannel& file, std::int64_t length);
void CloseFile(FileChannel& file);

// A short description of an OS error number from a channel's result, for messages.
[[nodiscard]] std::string_view OsErrorText(std::int32_t error);

}  // namespace runtime
