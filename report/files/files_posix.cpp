#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "report/files/platform.h"

namespace report::platform {
namespace {

FileKind KindOf(mode_t mode) {
    if (S_ISREG(mode)) {
        return FileKind::regular;
    }
    if (S_ISDIR(mode)) {
        return FileKind::directory;
    }
    if (S_ISFIFO(mode)) {
        return FileKind::fifo;
    }
    if (S_ISCHR(mode) || S_ISBLK(mode)) {
        return FileKind::device;
    }
    return S_ISSOCK(mode) ? FileKind::socket : FileKind::other;
}

std::atomic<const char*> temporaryPath{nullptr};

extern "C" void RemoveTemporaryAndStop(int signal) {
    if (const char* path = temporaryPath.load()) {
        unlink(path);
    }
    // The default action ends the process with the signal, as if never caught.
    ::signal(signal, SIG_DFL);
    raise(signal);
}

}  // namespace

std::FILE* OpenRegularFile(const std::string& path, FileKind& kind, std::string& osError) {
    struct stat named {};
    if (stat(path.c_str(), &named) != 0) {
        kind = errno == ENOENT || errno == ENOTDIR ? FileKind::missing : FileKind::unreadable;
        osError = std::strerror(errno);
        return nullptr;
    }
    kind = KindOf(named.st_mode);
    if (kind != FileKind::regular) {
        return nullptr;
    }
    // O_NONBLOCK: a FIFO put in its place since the stat must not hang the open.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        kind = FileKind::unreadable;
        osError = std::strerror(errno);
        return nullptr;
    }
    struct stat opened {};
    if (fstat(fd, &opened) != 0 || (kind = KindOf(opened.st_mode)) != FileKind::regular) {
        close(fd);
        return nullptr;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::FILE* file = fdopen(fd, "rb");
    if (file == nullptr) {
        kind = FileKind::unreadable;
        osError = std::strerror(errno);
        close(fd);
    }
    return file;
}

std::FILE* CreateNewFile(const std::string& path, bool& exists) {
    const int fd =
        open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0666);
    exists = fd < 0 && errno == EEXIST;
    if (fd < 0) {
        return nullptr;
    }
    std::FILE* file = fdopen(fd, "wb");
    if (file == nullptr) {
        close(fd);
        unlink(path.c_str());
    }
    return file;
}

bool RenameOver(const std::string& from, const std::string& to) {
    return rename(from.c_str(), to.c_str()) == 0;
}

void RemoveFile(const std::string& path) {
    unlink(path.c_str());
}

std::optional<FileIdentity> IdentityOf(const std::string& path) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
        return std::nullopt;
    }
    return FileIdentity{static_cast<std::uint64_t>(status.st_dev),
                        static_cast<std::uint64_t>(status.st_ino)};
}

void RemoveOnInterrupt(const char* path) {
    static const bool installed = [] {
        struct sigaction action {};
        action.sa_handler = RemoveTemporaryAndStop;
        sigemptyset(&action.sa_mask);
        for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
            sigaction(signal, &action, nullptr);
        }
        return true;
    }();
    (void)installed;
    temporaryPath.store(path);
}

bool NamesIgnoreCase() {
    return false;
}

}  // namespace report::platform
