#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <atomic>

#include "report/files/platform.h"

namespace report::platform {
namespace {

std::string ErrorText(DWORD error) {
    char text[256] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, text, sizeof text, nullptr);
    std::string message(text, length);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.')) {
        message.pop_back();
    }
    return message.empty() ? "error " + std::to_string(error) : message;
}

FileKind KindOfMissing(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? FileKind::missing
                                                                          : FileKind::unreadable;
}

// A C stream over a handle; the handle belongs to the stream afterwards.
std::FILE* StreamOf(HANDLE handle, int flags, const char* mode) {
    const int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(handle), flags | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, mode);
    if (file == nullptr) {
        _close(fd);
    }
    return file;
}

std::atomic<const char*> temporaryPath{nullptr};

BOOL WINAPI RemoveTemporaryAndStop(DWORD) {
    if (const char* path = temporaryPath.load()) {
        DeleteFileA(path);
    }
    return FALSE;  // the next handler (the default one) ends the process
}

}  // namespace

std::FILE* OpenRegularFile(const std::string& path, FileKind& kind, std::string& osError) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        kind = KindOfMissing(error);
        osError = ErrorText(error);
        return nullptr;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        kind = FileKind::directory;
        return nullptr;
    }
    const HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        kind = KindOfMissing(error);
        osError = ErrorText(error);
        return nullptr;
    }
    const DWORD type = GetFileType(handle);
    if (type != FILE_TYPE_DISK) {
        kind = type == FILE_TYPE_PIPE ? FileKind::fifo : FileKind::device;
        CloseHandle(handle);
        return nullptr;
    }
    kind = FileKind::regular;
    return StreamOf(handle, _O_RDONLY, "rb");
}

std::FILE* CreateNewFile(const std::string& path, bool& exists) {
    // CREATE_NEW fails on anything under the name, a link included. FILE_SHARE_DELETE lets an
    // interrupt remove it while it is open.
    const HANDLE handle =
        CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        exists = GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS;
        return nullptr;
    }
    exists = false;
    std::FILE* file = StreamOf(handle, _O_WRONLY, "wb");
    if (file == nullptr) {
        DeleteFileA(path.c_str());
    }
    return file;
}

bool RenameOver(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

void RemoveFile(const std::string& path) {
    DeleteFileA(path.c_str());
}

std::optional<FileIdentity> IdentityOf(const std::string& path) {
    const HANDLE handle =
        CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    BY_HANDLE_FILE_INFORMATION information{};
    const bool known = GetFileInformationByHandle(handle, &information) != 0;
    CloseHandle(handle);
    if (!known) {
        return std::nullopt;
    }
    return FileIdentity{
        information.dwVolumeSerialNumber,
        (static_cast<std::uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow};
}

void RemoveOnInterrupt(const char* path) {
    static const bool installed = SetConsoleCtrlHandler(RemoveTemporaryAndStop, TRUE) != 0;
    (void)installed;
    temporaryPath.store(path);
}

bool NamesIgnoreCase() {
    return true;
}

}  // namespace report::platform
