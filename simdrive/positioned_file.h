// The only OS-specific part of the simulated drive: files read at explicit positions, and a
// sequential writer for generated images.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>

namespace simdrive {

// An open file descriptor, closed when the owner goes.
class FileHandle {
public:
    FileHandle() = default;
    explicit FileHandle(int descriptor) : descriptor_(descriptor) {}
    FileHandle(FileHandle&& other) noexcept;
    FileHandle& operator=(FileHandle&& other) noexcept;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle() { (void)Close(); }

    [[nodiscard]] int Get() const { return descriptor_; }
    // Closes the descriptor; false when closing reported an error.
    [[nodiscard]] bool Close();

private:
    int descriptor_ = -1;
};

class PositionedFile {
public:
    // Opens an existing file for reading; on failure returns nothing and fills `error`.
    [[nodiscard]] static std::optional<PositionedFile> Open(const std::string& path,
                                                            std::string& error);
    [[nodiscard]] uint64_t Size() const { return size_; }
    // Reads exactly out.size() bytes at `position`; false on an I/O error or a short file.
    [[nodiscard]] bool ReadAt(uint64_t position, std::span<uint8_t> out) const;

private:
    PositionedFile(FileHandle handle, uint64_t size) : handle_(std::move(handle)), size_(size) {}
    FileHandle handle_;
    uint64_t size_ = 0;
};

class SequentialWriter {
public:
    [[nodiscard]] static std::optional<SequentialWriter> Create(const std::string& path,
                                                                std::string& error);
    [[nodiscard]] bool Write(std::span<const uint8_t> bytes);
    // Flushes and closes; false when any step failed.
    [[nodiscard]] bool Close() { return handle_.Close(); }

private:
    explicit SequentialWriter(FileHandle handle) : handle_(std::move(handle)) {}
    FileHandle handle_;
};

void RemoveFile(const std::string& path);

}  // namespace simdrive
