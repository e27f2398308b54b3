// Finding the drive's read offset: where in the reference the extraction's audio starts.
#pragma once

#include <cstdint>
#include <string>

#include "report/comparison/block_reader.h"

namespace report {

// Sign convention: the drive's frame i holds the reference's frame i + offsetFrames (a drive
// with offset +6 starts its audio 6 frames late into the image).
struct Alignment {
    bool found = false;
    std::int32_t offsetFrames = 0;
    bool channelsSwapped = false;
    std::int32_t probes = 0;     // probe windows with enough structure to align on
    std::int32_t agreeing = 0;   // of those, the ones whose best match is this offset
    double matchShare = 0.0;     // frames equal at this offset, over the agreeing windows
    double runnerUpShare = 0.0;  // best share of any other offset in those windows
    std::string failure;         // why no offset fits, when none does
};

inline constexpr std::int32_t kDefaultSearchFrames = 10'000;

// Where the extraction lies over the reference once aligned. The extraction's sectors that
// overlap the reference are compared (what of them lies outside it is compared with silence);
// those wholly before or past it are extra; the reference's sectors without a counterpart are
// missing.
struct Coverage {
    std::int64_t referenceSectors = 0;  // a partial last sector counts as one
    std::int64_t extractionSectors = 0;
    std::int64_t firstCompared = 0;  // extraction sectors [firstCompared, endCompared)
    std::int64_t endCompared = 0;
    std::int64_t missingAtStart = 0;
    std::int64_t missingAtEnd = 0;
    std::int64_t samplesOutsideReference = 0;  // of the compared sectors
    bool extraBeforeAllZero = true;
    bool extraAfterAllZero = true;
    [[nodiscard]] std::int64_t Compared() const { return endCompared - firstCompared; }
    [[nodiscard]] std::int64_t ExtraBefore() const { return firstCompared; }
    [[nodiscard]] std::int64_t ExtraAfter() const { return extractionSectors - endCompared; }
    [[nodiscard]] std::int64_t Missing() const { return missingAtStart + missingAtEnd; }
};

[[nodiscard]] Coverage MeasureCoverage(std::int64_t referenceFrames, std::int64_t extractionSectors,
                                       std::int32_t offsetFrames);

// Compares probe windows spread over the extraction with the reference at every offset in
// [-searchFrames, +searchFrames], in both channel orders.
[[nodiscard]] Alignment FindReadOffset(BlockSource& reference, BlockSource& drive,
                                       std::int32_t searchFrames = kDefaultSearchFrames);

}  // namespace report
