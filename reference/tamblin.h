// The Tamblin program: writes the reference image "Reference.wav" block by block with a progress
// line and a time estimate.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "reference/fast_mix.h"

namespace runtime {
class FileChannel;
}

namespace reference {

inline constexpr std::string_view imageFileName = "Reference.wav";
inline constexpr std::int32_t blockFrames = 588;  // one CD sector
inline constexpr std::size_t blockBytes = 2'352;

// Writes the 44-byte header for `frames` stereo frames at the file's current position.
// frames x 4 must fit in 32 bits together with the header; otherwise the runtime's range or
// overflow error ends the program.
void WriteWavHeader(std::int64_t frames, runtime::FileChannel& file);

// Progress after `frame` in hundredths of a percent, truncated.
[[nodiscard]] std::int64_t ProgressHundredths(std::int64_t frame);
// Seconds left by linear extrapolation of `elapsedMilliseconds` over frames 0..frame.
[[nodiscard]] std::int64_t RemainingSeconds(std::int32_t elapsedMilliseconds, std::int64_t frame);

struct ProgressText {
    std::array<char, 96> chars{};
    std::size_t size = 0;
    [[nodiscard]] std::string_view View() const { return {chars.data(), size}; }
};

// "\r" + percent in whole tenths (never rounded up) in a field of 5 + the estimate "h:mm:ss".
[[nodiscard]] ProgressText FormatProgressLine(std::int64_t hundredths,
                                              std::int64_t remainingSeconds);
// Prints the progress line for the block that ended at `frame`, estimating from the timer.
void ProgressLine(std::int64_t hundredths, std::int64_t frame);

// The program body after runtime start-up; returns the exit code: 0 when the whole image was
// written, 1 when the file could not be created or written. The program itself takes the
// fastest form of the fast mix; benchmarks and tests choose one (that runs here).
[[nodiscard]] std::int32_t RunTamblin(FastMixForm form = FastestForm());

}  // namespace reference
