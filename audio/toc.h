// The disc's table of contents.
#pragma once

#include <cstdint>
#include <span>

#include "drive/drive_record.h"

namespace audio {

inline constexpr std::int32_t tocEntries = 106;

struct TocEntry {
    std::uint8_t adr = 0;
    std::uint8_t control = 0;
    std::int32_t track = 0;  // -1 marks the lead-out
    std::int64_t startSector = 0;
    std::int64_t reserved = 0;
    std::int64_t endSector = 0;
};

// Fills the tracks and, after them, the lead-out; returns the number of tracks, 0 when the
// drive has no readable disc.
[[nodiscard]] std::int32_t ReadToc(std::span<TocEntry> table, std::int32_t& lastTrack,
                                   std::int32_t& firstTrack, drive::DriveRecord& drive);

}  // namespace audio
