#include "report/block_reader.h"

#include <algorithm>

namespace report {

RegionReader::RegionReader(const std::string& path, std::uint64_t start, std::uint64_t length)
    : file_(std::fopen(path.c_str(), "rb")), start_(start), length_(length) {
    if (file_) {
        // Reads are large and go straight into the caller's buffer.
        std::setvbuf(file_.get(), nullptr, _IONBF, 0);
    }
}

bool RegionReader::Read(std::int64_t position, std::span<std::uint8_t> out) {
    const auto length = static_cast<std::int64_t>(length_);
    const std::int64_t end = position + static_cast<std::int64_t>(out.size());
    const std::int64_t first = std::clamp<std::int64_t>(position, 0, length);
    const std::int64_t last = std::clamp<std::int64_t>(end, 0, length);
    std::fill(out.begin(), out.begin() + (first - position), 0);
    std::fill(out.begin() + (last - position), out.end(), 0);
    if (last <= first) {
        return true;
    }
    const auto offset = static_cast<std::int64_t>(start_) + first;
    if (offset != next_ && std::fseek(file_.get(), static_cast<long>(offset), SEEK_SET) != 0) {
        return false;
    }
    const auto count = static_cast<std::size_t>(last - first);
    const bool ok = std::fread(out.data() + (first - position), 1, count, file_.get()) == count;
    next_ = ok ? offset + static_cast<std::int64_t>(count) : -1;
    return ok;
}

}  // namespace report
