// Opening the WAV files to compare: only CD-format audio (16-bit stereo PCM at 44,100 Hz).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace report {

struct WavLayout {
    std::uint64_t dataStart = 0;  // file offset of the first audio byte
    std::uint64_t dataBytes = 0;  // audio bytes
    std::string note;             // non-empty when the header had to be second-guessed
};

// Reads the RIFF chunks of `path`. On failure returns nothing and fills `error` with a
// sentence for the user.
[[nodiscard]] std::optional<WavLayout> OpenCdWav(const std::string& path, std::string& error);

[[nodiscard]] std::optional<std::uint64_t> FileSize(const std::string& path);

}  // namespace report
