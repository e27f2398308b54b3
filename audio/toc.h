// The disc's table of contents: its tracks, the lead-out, and where each track's readable
// area ends.
#pragma once

#include <cstdint>
#include <span>

#include "drive/drive_record.h"

namespace audio {

inline constexpr std::int32_t tocEntries = 106;
inline constexpr std::int32_t maxTocTracks = 100;  // a READ TOC reply holds no more

struct TocEntry {
    std::uint8_t adr = 0;      // 0..3 as read, 4 for anything else
    std::uint8_t control = 0;  // 1 pre-emphasis, 2 copy permitted, 4 data track, 8 four channels
    std::int32_t track = 0;    // -1 marks the lead-out
    std::int64_t startSector = 0;
    std::int64_t reserved = 0;
    std::int64_t endSector = 0;  // first sector after the track's readable area
};

// How the drive stood when it was asked to be ready: ready (or answering otherwise, which the
// table of contents' own read then meets), without a disc, still becoming ready after 30 s, or
// reporting a change at every TEST UNIT READY.
enum class DriveReady { ready, noDisc, neverReady, unitAttentionKept };

// Sends TEST UNIT READY until the drive is ready, with the patience of drive/manners.h;
// `announceWait` (may be null) is called once before the first wait.
[[nodiscard]] DriveReady AwaitReady(drive::DriveRecord& drive, void (*announceWait)());

// Fills entries 0..n-1 with the tracks and entry n with the lead-out; returns n (1..100), or 0
// when the drive could not read a table of contents (no disc). `lastTrack` and `firstTrack`
// receive the track numbers of the reply's header.
[[nodiscard]] std::int32_t ReadToc(std::span<TocEntry> table, std::int32_t& lastTrack,
                                   std::int32_t& firstTrack, drive::DriveRecord& drive);

// The disc's size in sectors (last logical block + 1); false when the command failed.
[[nodiscard]] bool ReadCapacity(std::int64_t& sectorCount, drive::DriveRecord& drive);

// Fills endSector of the tracks 0..trackCount-1 from the full TOC's sessions, or from the
// track kinds when the drive has no usable full TOC.
void ReadSessions(std::span<TocEntry> table, std::int32_t trackCount, drive::DriveRecord& drive);

}  // namespace audio
