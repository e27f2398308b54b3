// Every file c2report reads is opened here, whoever reads it (WAV, .c2, JSON): only a regular
// file, never a FIFO, device or directory, and never by an open that could block.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

namespace report {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using OpenedFile = std::unique_ptr<std::FILE, FileCloser>;

// Opens `path` for reading; nothing, with the sentence in `error`, when it is not a regular
// file or cannot be opened.
[[nodiscard]] OpenedFile OpenInputFile(const std::string& path, std::string& error);

// The whole of a small input, at most `maxBytes`; nothing, with the sentence in `error`, when it
// cannot be read or is larger.
[[nodiscard]] std::optional<std::string> ReadSmallInput(const std::string& path,
                                                        std::uint64_t maxBytes, std::string& error);

}  // namespace report
