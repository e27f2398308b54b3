#include "simdrive/positioned_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace simdrive {

namespace {

std::string Describe(const char* what, const std::string& path) {
    return std::string(what) + " '" + path + "': " + std::strerror(errno);
}

}  // namespace

std::optional<PositionedFile> PositionedFile::Open(const std::string& path, std::string& error) {
    const int handle = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (handle < 0) {
        error = Describe("cannot open", path);
        return std::nullopt;
    }
    struct stat info {};
    if (::fstat(handle, &info) != 0) {
        error = Describe("cannot inspect", path);
        ::close(handle);
        return std::nullopt;
    }
    return PositionedFile(handle, static_cast<uint64_t>(info.st_size));
}

PositionedFile::PositionedFile(PositionedFile&& other) noexcept
    : handle_(std::exchange(other.handle_, -1)), size_(other.size_) {}

PositionedFile& PositionedFile::operator=(PositionedFile&& other) noexcept {
    if (this != &other) {
        if (handle_ >= 0) {
            ::close(handle_);
        }
        handle_ = std::exchange(other.handle_, -1);
        size_ = other.size_;
    }
    return *this;
}

PositionedFile::~PositionedFile() {
    if (handle_ >= 0) {
        ::close(handle_);
    }
}

bool PositionedFile::ReadAt(uint64_t position, std::span<uint8_t> out) const {
    size_t done = 0;
    while (done < out.size()) {
        const ssize_t got = ::pread(handle_, out.data() + done, out.size() - done,
                                    static_cast<off_t>(position + done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        done += static_cast<size_t>(got);
    }
    return true;
}

std::optional<SequentialWriter> SequentialWriter::Create(const std::string& path,
                                                         std::string& error) {
    const int handle = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (handle < 0) {
        error = Describe("cannot create", path);
        return std::nullopt;
    }
    return SequentialWriter(handle);
}

SequentialWriter::SequentialWriter(SequentialWriter&& other) noexcept
    : handle_(std::exchange(other.handle_, -1)) {}

SequentialWriter& SequentialWriter::operator=(SequentialWriter&& other) noexcept {
    if (this != &other) {
        (void)Close();
        handle_ = std::exchange(other.handle_, -1);
    }
    return *this;
}

SequentialWriter::~SequentialWriter() {
    (void)Close();
}

bool SequentialWriter::Write(std::span<const uint8_t> bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::write(handle_, bytes.data() + done, bytes.size() - done);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return false;
        }
        done += static_cast<size_t>(put);
    }
    return true;
}

bool SequentialWriter::WriteAt(uint64_t position, std::span<const uint8_t> bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::pwrite(handle_, bytes.data() + done, bytes.size() - done,
                                     static_cast<off_t>(position + done));
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return false;
        }
        done += static_cast<size_t>(put);
    }
    return true;
}

bool SequentialWriter::Close() {
    if (handle_ < 0) {
        return true;
    }
    const int handle = std::exchange(handle_, -1);
    return ::close(handle) == 0;
}

void RemoveFile(const std::string& path) {
    ::unlink(path.c_str());
}

}  // namespace simdrive
