#include "report/comparison/block_reader.h"

#include <algorithm>

#include "report/comparison/file_digest.h"
#include "report/input/input_file.h"

namespace report {

RegionReader::RegionReader(const std::string& path, std::uint64_t start, std::uint64_t length)
    : file_(OpenInputFile(path, openError_)), start_(start), length_(length) {
    if (file_) {
        // Reads are large and go straight into the caller's buffer.
        std::setvbuf(file_.get(), nullptr, _IONBF, 0);
    }
}

bool RegionReader::Read(std::int64_t position, std::span<std::uint8_t> out) {
    const auto length = static_cast<std::int64_t>(length_);
    const auto size = static_cast<std::int64_t>(out.size());
    // The part of the request inside the region, as indices into `out`; a request wholly
    // before or past the region leaves it empty and reads as silence.
    const std::int64_t from = std::clamp<std::int64_t>(-position, 0, size);
    const std::int64_t to = std::clamp<std::int64_t>(length - position, from, size);
    std::fill(out.begin(), out.begin() + from, 0);
    std::fill(out.begin() + to, out.end(), 0);
    const std::int64_t first = position + from;
    const std::int64_t last = position + to;
    if (last <= first) {
        return true;
    }
    const auto offset = static_cast<std::int64_t>(start_) + first;
    if (offset != next_ && std::fseek(file_.get(), static_cast<long>(offset), SEEK_SET) != 0) {
        return false;
    }
    const auto count = static_cast<std::size_t>(last - first);
    const bool ok = std::fread(out.data() + from, 1, count, file_.get()) == count;
    next_ = ok ? offset + static_cast<std::int64_t>(count) : -1;
    if (ok && digest_ != nullptr) {
        digest_->Saw(static_cast<std::uint64_t>(offset), out.subspan(from, count));
    }
    return ok;
}

}  // namespace report
