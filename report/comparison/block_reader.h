// Positioned reads of a file region for the comparison: whole blocks, read straight into the
// caller's buffer, with silence (zeros) wherever the request leaves the region.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>

#include "report/input/input_file.h"

namespace report {

class FileDigest;

// A stream of bytes the comparison reads in blocks: a file's region, or one rebuilt from the
// reference and a pass's evidence. The comparison cannot tell which.
class BlockSource {
public:
    virtual ~BlockSource() = default;
    [[nodiscard]] virtual std::uint64_t Length() const = 0;
    // Fills `out` with bytes from `position` on (which may be negative or run past the end:
    // those bytes read as zeros). False on a read error.
    [[nodiscard]] virtual bool Read(std::int64_t position, std::span<std::uint8_t> out) = 0;
};

class RegionReader final : public BlockSource {
public:
    // The region [start, start + length) of the file; IsOpen() tells whether it opened.
    RegionReader(const std::string& path, std::uint64_t start, std::uint64_t length);

    [[nodiscard]] bool IsOpen() const { return file_ != nullptr; }
    [[nodiscard]] std::uint64_t Length() const override { return length_; }
    [[nodiscard]] bool Read(std::int64_t position, std::span<std::uint8_t> out) override;
    // Every byte read from now on is shown to `digest` (nullptr: none).
    void ShowReadsTo(FileDigest* digest) { digest_ = digest; }

private:
    std::string openError_;
    std::unique_ptr<std::FILE, FileCloser> file_;
    std::uint64_t start_;
    std::uint64_t length_;
    std::int64_t next_ = -1;
    FileDigest* digest_ = nullptr;  // file offset after the last read, to skip needless seeks
};

}  // namespace report
