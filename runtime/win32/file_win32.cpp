// Win32 backend of the file channels.
#include <windows.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "runtime/file_channel.h"

namespace runtime {
namespace {

HANDLE Handle(const FileChannel& file) {
    return reinterpret_cast<HANDLE>(file.handle);
}

std::int32_t LastError() {
    return static_cast<std::int32_t>(::GetLastError());
}

}  // namespace

FileChannel::~FileChannel() {
    if (IsOpen()) {
        ::CloseHandle(Handle(*this));
    }
}

void CreateOutputFile(std::string_view name, FileChannel& file) {
    file.bytesMoved = 0;
    file.handle = invalidHandle;
    name = name.substr(0, std::min(name.size(), name.find('\0')));
    if (name.size() > fileNameLimit) {
        file.result = ERROR_FILENAME_EXCED_RANGE;
        return;
    }
    std::array<char, fileNameLimit + 1> path{};
    std::memcpy(path.data(), name.data(), name.size());
    SECURITY_ATTRIBUTES notInherited{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
    const HANDLE handle = ::CreateFileA(path.data(), GENERIC_READ | GENERIC_WRITE, 0, &notInherited,
                                        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        file.result = LastError();
        return;
    }
    if (!::SetEndOfFile(handle)) {
        file.result = LastError();
        ::CloseHandle(handle);
        return;
    }
    file.isDisk = ::GetFileType(handle) == FILE_TYPE_DISK;
    file.handle = reinterpret_cast<OsHandle>(handle);
    file.result = 0;
}

void WriteBlock(FileChannel& file, std::span<const std::byte> data) {
    file.bytesMoved = 0;
    file.result = 0;
    while (file.bytesMoved < static_cast<std::int64_t>(data.size())) {
        const auto rest = data.subspan(static_cast<std::size_t>(file.bytesMoved));
        const auto chunk = static_cast<DWORD>(std::min<std::size_t>(rest.size(), 1U << 30));
        DWORD written = 0;
        if (!::WriteFile(Handle(file), rest.data(), chunk, &written, nullptr)) {
            file.result = LastError();
            return;
        }
        if (written == 0) {
            file.result = ERROR_DISK_FULL;  // a device that takes nothing more
            return;
        }
        file.bytesMoved += written;
    }
}

void SetFilePosition(FileChannel& file, std::int64_t position) {
    file.bytesMoved = 0;
    LONG high = static_cast<LONG>(position >> 32);
    ::SetLastError(NO_ERROR);
    const DWORD low = ::SetFilePointer(Handle(file), static_cast<LONG>(position & 0xFFFF'FFFF),
                                       &high, FILE_BEGIN);
    file.result = low == INVALID_SET_FILE_POINTER ? LastError() : 0;
}

void SetFileLength(FileChannel& file, std::int64_t length) {
    file.bytesMoved = 0;
    LARGE_INTEGER here{};
    LARGE_INTEGER end{};
    end.QuadPart = length;
    if (!::SetFilePointerEx(Handle(file), LARGE_INTEGER{}, &here, FILE_CURRENT) ||
        !::SetFilePointerEx(Handle(file), end, nullptr, FILE_BEGIN) ||
        !::SetEndOfFile(Handle(file))) {
        file.result = LastError();
        return;
    }
    file.result = ::SetFilePointerEx(Handle(file), here, nullptr, FILE_BEGIN) ? 0 : LastError();
}

void CloseFile(FileChannel& file) {
    file.bytesMoved = 0;
    file.result = ::CloseHandle(Handle(file)) ? 0 : LastError();
    file.handle = invalidHandle;
}

std::string_view OsErrorText(std::int32_t error) {
    thread_local std::array<char, 256> text{};
    DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                    nullptr, static_cast<DWORD>(error), 0, text.data(),
                                    static_cast<DWORD>(text.size()), nullptr);
    // The system's texts end in a full stop and a line end; messages add their own.
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' ||
                          text[length - 1] == '.' || text[length - 1] == ' ')) {
        --length;
    }
    if (length == 0) {
        return "unknown error";
    }
    return {text.data(), length};
}

}  // namespace runtime
