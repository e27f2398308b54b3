// POSIX backend of the file channels.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "runtime/file_channel.h"

namespace runtime {
namespace {

int Descriptor(const FileChannel& file) {
    return static_cast<int>(file.handle);
}

}  // namespace

FileChannel::~FileChannel() {
    if (IsOpen()) {
        ::close(Descriptor(*this));
    }
}

void CreateOutputFile(std::string_view name, FileChannel& file) {
    file.bytesMoved = 0;
    name = name.substr(0, std::min(name.size(), name.find('\0')));
    if (name.size() > fileNameLimit) {
        file.handle = invalidHandle;
        file.result = ENAMETOOLONG;
        return;
    }
    std::array<char, fileNameLimit + 1> path{};
    std::memcpy(path.data(), name.data(), name.size());
    const int fd = ::open(path.data(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        file.handle = invalidHandle;
        file.result = errno;
        return;
    }
    struct stat status {};
    file.isDisk = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    file.handle = fd;
    file.result = 0;
}

void WriteBlock(FileChannel& file, std::span<const std::byte> data) {
    file.bytesMoved = 0;
    file.result = 0;
    while (file.bytesMoved < static_cast<std::int64_t>(data.size())) {
        const auto rest = data.subspan(static_cast<std::size_t>(file.bytesMoved));
        const ssize_t written = ::write(Descriptor(file), rest.data(), rest.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written < 0) {
            file.result = errno;
            return;
        }
        if (written == 0) {
            file.result = ENOSPC;  // a device that takes nothing more
            return;
        }
        file.bytesMoved += written;
    }
}

void SetFilePosition(FileChannel& file, std::int64_t position) {
    file.bytesMoved = 0;
    file.result = ::lseek(Descriptor(file), static_cast<off_t>(position), SEEK_SET) < 0 ? errno : 0;
}

void SetFileLength(FileChannel& file, std::int64_t length) {
    file.bytesMoved = 0;
    int outcome = 0;
    while ((outcome = ::ftruncate(Descriptor(file), static_cast<off_t>(length))) < 0 &&
           errno == EINTR) {
    }
    file.result = outcome < 0 ? errno : 0;
}

void CloseFile(FileChannel& file) {
    file.bytesMoved = 0;
    // Linux releases the descriptor even when close reports an error (a late write-back
    // failure, say), so the channel is closed either way and the error is kept.
    file.result = ::close(Descriptor(file)) != 0 ? errno : 0;
    file.handle = invalidHandle;
}

std::string_view OsErrorText(std::int32_t error) {
    return std::strerror(error);
}

}  // namespace runtime
