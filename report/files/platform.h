// The few OS calls c2report's file handling needs, one backend per OS (files_posix.cpp,
// files_win32.cpp). Paths are the program's own narrow strings.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace report::platform {

// What a path names, as far as a reader cares.
enum class FileKind { regular, missing, directory, fifo, device, socket, other, unreadable };

// Opens `path` for reading if it is a regular file (following links); `kind` says what it is
// otherwise, and `osError` why an open failed. A FIFO or a device is never opened in a way that
// could block.
[[nodiscard]] std::FILE* OpenRegularFile(const std::string& path, FileKind& kind,
                                         std::string& osError);

// Creates `path` for writing only if nothing is there under that name, not even a link.
[[nodiscard]] std::FILE* CreateNewFile(const std::string& path, bool& exists);

// Renames `from` to `to`, replacing what `to` names (a link itself, never its target).
[[nodiscard]] bool RenameOver(const std::string& from, const std::string& to);

void RemoveFile(const std::string& path);

// The file a path leads to (links followed), the same for every name of it.
struct FileIdentity {
    std::uint64_t device = 0, index = 0;
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};
[[nodiscard]] std::optional<FileIdentity> IdentityOf(const std::string& path);

// From now on an interrupt (Ctrl-C, a termination request) removes `path` before the program
// ends; nullptr: nothing to remove. `path` must stay valid until replaced.
void RemoveOnInterrupt(const char* path);

// Whether names differing only in letter case name the same file.
[[nodiscard]] bool NamesIgnoreCase();

}  // namespace report::platform
