#include "report/input/input_file.h"

#include "report/files/platform.h"
#include "report/output/text.h"

namespace report {
namespace {

const char* KindName(platform::FileKind kind) {
    switch (kind) {
        case platform::FileKind::directory:
            return "a folder";
        case platform::FileKind::fifo:
            return "a FIFO (named pipe)";
        case platform::FileKind::device:
            return "a device";
        case platform::FileKind::socket:
            return "a socket";
        default:
            return "not a regular file";
    }
}

}  // namespace

OpenedFile OpenInputFile(const std::string& path, std::string& error) {
    platform::FileKind kind = platform::FileKind::other;
    std::string osError;
    OpenedFile file(platform::OpenRegularFile(path, kind, osError));
    if (file) {
        return file;
    }
    if (kind == platform::FileKind::missing || kind == platform::FileKind::unreadable) {
        error = "Cannot open " + Quoted(path) + ".";
    } else {
        error = Quoted(path) + " is " + KindName(kind) +
                ", not a file: c2report reads only regular files.";
    }
    return nullptr;
}

std::optional<std::string> ReadSmallInput(const std::string& path, std::uint64_t maxBytes,
                                          std::string& error) {
    const OpenedFile file = OpenInputFile(path, error);
    if (!file) {
        return std::nullopt;
    }
    std::string text;
    char block[65536];
    while (const std::size_t count = std::fread(block, 1, sizeof block, file.get())) {
        if (text.size() + count > maxBytes) {
            error = Quoted(path) + " is larger than " + std::to_string((maxBytes + 0xFFFFF) >> 20) +
                    " MB: too large to be a file c2report reads.";
            return std::nullopt;
        }
        text.append(block, count);
    }
    if (std::ferror(file.get())) {
        error = "Cannot read " + Quoted(path) + ".";
        return std::nullopt;
    }
    return text;
}

}  // namespace report
