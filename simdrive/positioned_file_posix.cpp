#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "simdrive/positioned_file.h"

namespace simdrive {

namespace {

std::string Describe(const char* what, const std::string& path) {
    return std::string(what) + " '" + path + "': " + std::strerror(errno);
}

// Repeats a partial transfer until `size` bytes have moved; EINTR retries, an error or end of
// file fails.
template <typename Transfer>
bool MoveAll(size_t size, Transfer transfer) {
    size_t done = 0;
    while (done < size) {
        const ssize_t moved = transfer(done);
        if (moved < 0 && errno == EINTR) {
            continue;
        }
        if (moved <= 0) {
            return false;
        }
        done += static_cast<size_t>(moved);
    }
    return true;
}

}  // namespace

FileHandle::FileHandle(FileHandle&& other) noexcept
    : descriptor_(std::exchange(other.descriptor_, -1)) {}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
    if (this != &other) {
        (void)Close();
        descriptor_ = std::exchange(other.descriptor_, -1);
    }
    return *this;
}

bool FileHandle::Close() {
    if (descriptor_ < 0) {
        return true;
    }
    return ::close(std::exchange(descriptor_, -1)) == 0;
}

std::optional<PositionedFile> PositionedFile::Open(const std::string& path, std::string& error) {
    FileHandle handle(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (handle.Get() < 0) {
        error = Describe("cannot open", path);
        return std::nullopt;
    }
    struct stat info {};
    if (::fstat(handle.Get(), &info) != 0) {
        error = Describe("cannot inspect", path);
        return std::nullopt;
    }
    return PositionedFile(std::move(handle), static_cast<uint64_t>(info.st_size));
}

bool PositionedFile::ReadAt(uint64_t position, std::span<uint8_t> out) const {
    return MoveAll(out.size(), [&](size_t done) {
        return ::pread(handle_.Get(), out.data() + done, out.size() - done,
                       static_cast<off_t>(position + done));
    });
}

std::optional<SequentialWriter> SequentialWriter::Create(const std::string& path,
                                                         std::string& error) {
    FileHandle handle(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (handle.Get() < 0) {
        error = Describe("cannot create", path);
        return std::nullopt;
    }
    return SequentialWriter(std::move(handle));
}

bool SequentialWriter::Write(std::span<const uint8_t> bytes) {
    return MoveAll(bytes.size(), [&](size_t done) {
        return ::write(handle_.Get(), bytes.data() + done, bytes.size() - done);
    });
}

void RemoveFile(const std::string& path) {
    ::unlink(path.c_str());
}

}  // namespace simdrive
