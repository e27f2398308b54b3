#include "report/comparison/file_digest.h"

#include <algorithm>
#include <vector>

#include "report/input/input_file.h"

namespace report {

FileDigest::FileDigest(const std::string& path)
    : file_(OpenInputFile(path, openError_)), ok_(file_ != nullptr) {}

bool FileDigest::HashFromFile(std::uint64_t end) {
    constexpr std::uint64_t kChunk = 1 << 20;
    if (hashed_ >= end) {
        return true;
    }
    if (std::fseek(file_.get(), static_cast<long>(hashed_), SEEK_SET) != 0) {
        return false;
    }
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min(kChunk, end - hashed_)));
    while (hashed_ < end) {
        const auto count =
            static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), end - hashed_));
        const std::size_t got = std::fread(buffer.data(), 1, count, file_.get());
        sha_.Update(std::span(buffer).first(got));
        hashed_ += got;
        if (got != count) {
            return end == UINT64_MAX && std::feof(file_.get());
        }
    }
    return true;
}

void FileDigest::Saw(std::uint64_t fileOffset, std::span<const std::uint8_t> bytes) {
    const std::uint64_t end = fileOffset + bytes.size();
    if (!ok_ || end <= hashed_) {
        return;
    }
    ok_ = HashFromFile(fileOffset);
    if (!ok_) {
        return;
    }
    const std::uint64_t skip = hashed_ - fileOffset;  // already hashed: a read that overlaps
    sha_.Update(bytes.subspan(static_cast<std::size_t>(skip)));
    hashed_ = end;
}

std::string FileDigest::Finish() {
    ok_ = ok_ && HashFromFile(UINT64_MAX);
    return ok_ ? sha_.FinalHex() : std::string{};
}

}  // namespace report
