// Windows: C runtime descriptors in binary mode; positioned reads go through the descriptor's
// system handle with an explicit offset, so that no shared file position is moved.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "simdrive/positioned_file.h"

namespace simdrive {

namespace {

std::string Describe(const char* what, const std::string& path) {
    return std::string(what) + " '" + path + "': " + std::strerror(errno);
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
    return ::_close(std::exchange(descriptor_, -1)) == 0;
}

std::optional<PositionedFile> PositionedFile::Open(const std::string& path, std::string& error) {
    FileHandle handle(::_open(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT));
    if (handle.Get() < 0) {
        error = Describe("cannot open", path);
        return std::nullopt;
    }
    struct _stat64 info {};
    if (::_fstat64(handle.Get(), &info) != 0) {
        error = Describe("cannot inspect", path);
        return std::nullopt;
    }
    return PositionedFile(std::move(handle), static_cast<uint64_t>(info.st_size));
}

bool PositionedFile::ReadAt(uint64_t position, std::span<uint8_t> out) const {
    const auto file = reinterpret_cast<HANDLE>(::_get_osfhandle(handle_.Get()));
    size_t done = 0;
    while (done < out.size()) {
        const uint64_t at = position + done;
        OVERLAPPED offset{};
        offset.Offset = static_cast<DWORD>(at & 0xFFFF'FFFF);
        offset.OffsetHigh = static_cast<DWORD>(at >> 32);
        const auto chunk = static_cast<DWORD>(std::min<size_t>(out.size() - done, 1U << 30));
        DWORD moved = 0;
        if (!::ReadFile(file, out.data() + done, chunk, &moved, &offset) || moved == 0) {
            return false;
        }
        done += moved;
    }
    return true;
}

std::optional<SequentialWriter> SequentialWriter::Create(const std::string& path,
                                                         std::string& error) {
    FileHandle handle(::_open(path.c_str(),
                              _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY | _O_NOINHERIT,
                              _S_IREAD | _S_IWRITE));
    if (handle.Get() < 0) {
        error = Describe("cannot create", path);
        return std::nullopt;
    }
    return SequentialWriter(std::move(handle));
}

bool SequentialWriter::Write(std::span<const uint8_t> bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const auto chunk = static_cast<unsigned>(std::min<size_t>(bytes.size() - done, 1U << 30));
        const int moved = ::_write(handle_.Get(), bytes.data() + done, chunk);
        if (moved <= 0) {
            return false;
        }
        done += static_cast<size_t>(moved);
    }
    return true;
}

void RemoveFile(const std::string& path) {
    ::_unlink(path.c_str());
}

}  // namespace simdrive
