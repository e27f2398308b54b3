// The only OS-specific part of the simulated drive: files read at explicit positions, and a
// sequential writer for generated images.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace simdrive {

class PositionedFile {
public:
    // Opens an existing file for reading; on failure returns nothing and fills `error`.
    [[nodiscard]] static std::optional<PositionedFile> Open(const std::string& path,
                                                            std::string& error);
    PositionedFile(PositionedFile&& other) noexcept;
    PositionedFile& operator=(PositionedFile&& other) noexcept;
    PositionedFile(const PositionedFile&) = delete;
    PositionedFile& operator=(const PositionedFile&) = delete;
    ~PositionedFile();

    [[nodiscard]] uint64_t Size() const { return size_; }
    // Reads exactly out.size() bytes at `position`; false on an I/O error or a short file.
    [[nodiscard]] bool ReadAt(uint64_t position, std::span<uint8_t> out) const;

private:
    PositionedFile(int handle, uint64_t size) : handle_(handle), size_(size) {}
    int handle_ = -1;
    uint64_t size_ = 0;
};

class SequentialWriter {
public:
    [[nodiscard]] static std::optional<SequentialWriter> Create(const std::string& path,
                                                                std::string& error);
    SequentialWriter(SequentialWriter&& other) noexcept;
    SequentialWriter& operator=(SequentialWriter&& other) noexcept;
    SequentialWriter(const SequentialWriter&) = delete;
    SequentialWriter& operator=(const SequentialWriter&) = delete;
    ~SequentialWriter();

    [[nodiscard]] bool Write(std::span<const uint8_t> bytes);
    [[nodiscard]] bool WriteAt(uint64_t position, std::span<const uint8_t> bytes);
    // Flushes and closes; false when any step failed.
    [[nodiscard]] bool Close();

private:
    explicit SequentialWriter(int handle) : handle_(handle) {}
    int handle_ = -1;
};

void RemoveFile(const std::string& path);

}  // namespace simdrive
