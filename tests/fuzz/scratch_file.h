// A file in memory for the readers that take a path: a memfd, named through /proc, so that no
// run waits on a disk.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <string_view>

namespace fuzzing {

class ScratchFile {
public:
    explicit ScratchFile(const char* name) : descriptor_(::memfd_create(name, 0)) {
        if (descriptor_ < 0) {
            std::abort();
        }
        path_ = "/proc/self/fd/" + std::to_string(descriptor_);
    }
    ~ScratchFile() { ::close(descriptor_); }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    [[nodiscard]] const std::string& Path() const { return path_; }
    // Replaces the contents with `bytes`.
    void Write(std::string_view bytes) const {
        if (::ftruncate(descriptor_, 0) != 0 || ::pwrite(descriptor_, bytes.data(), bytes.size(),
                                                         0) != static_cast<ssize_t>(bytes.size())) {
            std::abort();
        }
    }

private:
    int descriptor_;
    std::string path_;
};

}  // namespace fuzzing
