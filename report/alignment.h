// Finding the drive's read offset: where in the reference the extraction's audio starts.
#pragma once

#include <cstdint>
#include <string>

#include "report/block_reader.h"

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

// Compares probe windows spread over the extraction with the reference at every offset in
// [-searchFrames, +searchFrames], in both channel orders.
[[nodiscard]] Alignment FindReadOffset(RegionReader& reference, RegionReader& drive,
                                       std::int32_t searchFrames = kDefaultSearchFrames);

}  // namespace report
