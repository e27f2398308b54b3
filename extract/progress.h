// The progress line of a pass. In a terminal it is rewritten after every chunk and shows the
// read rate and the time left; elsewhere (a log, a pipe) it is written only when its percentage
// changes, and a line end starts a new line each time it enters another tenth of the pass, so
// that a log holds a dozen lines per pass rather than thousands of rewrites.
#pragma once

#include <array>
#include <cstdint>

#include "runtime/clock.h"

namespace extract {

class ProgressLine {
public:
    ProgressLine(std::int32_t firstSector, std::int32_t endSector, bool terminal);

    // After the chunk that ends before `nextSector`.
    void Show(std::int32_t nextSector);

private:
    struct Sample {
        runtime::Microseconds at{0};
        std::int32_t sector = 0;
    };
    // Audio bytes a second over the last 10 seconds; 0 when no time has passed.
    [[nodiscard]] double BytesPerSecond(runtime::Microseconds now, std::int32_t sector) const;
    void Remember(runtime::Microseconds now, std::int32_t sector);
    void ShowInTerminal(double percent, std::int32_t nextSector);
    void ShowInLog(double percent);

    std::int32_t firstSector_;
    std::int32_t endSector_;
    bool terminal_;
    static constexpr std::int32_t sampleSlots = 12;
    std::array<Sample, sampleSlots> samples_{};  // one a second at most, the newest at newest_
    std::int32_t sampleCount_ = 0;
    std::int32_t newest_ = 0;
    std::int64_t lastTenths_ = -1;  // the percentage last written, in tenths
    std::int64_t lineTenth_ = -1;   // the tenth of the pass the current line began in
    std::int32_t longestText_ = 0;  // characters, so that a shorter text covers a longer one
};

}  // namespace extract
