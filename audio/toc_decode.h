// Decoding of the table-of-contents replies: pure functions over the bytes a drive sent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "audio/toc.h"

namespace audio {

// A READ TOC (format 0, LBA) reply into entries 0..n-1 and the lead-out entry n; returns n.
// Descriptors stop after the one for `lastTrack` or after 100. Bytes past the reply read as 0.
[[nodiscard]] std::int32_t DecodeToc(std::span<const std::byte> reply, std::span<TocEntry> table,
                                     std::int32_t& lastTrack, std::int32_t& firstTrack);

// True when the lead-out entry cannot end the disc: before the last track's start, or beyond
// any CD's size.
[[nodiscard]] bool LeadOutImplausible(std::span<const TocEntry> table, std::int32_t trackCount);

// What makes a table of contents unusable for reading the disc, in the order it is looked for.
enum class TocFault { none, noTrack, firstTrackAfterLast, noUsableLeadOut, nothingToRead };

// The sectors to read, 0 up to `endSector`, or what is wrong with the table of contents.
struct ReadRange {
    TocFault fault = TocFault::none;
    std::int32_t endSector = 0;
};

// Judges a table that DecodeToc filled (n track entries, then the lead-out) and the track
// numbers of its header.
[[nodiscard]] ReadRange DiscReadRange(std::span<const TocEntry> table, std::int32_t trackCount,
                                      std::int32_t firstTrack, std::int32_t lastTrack);

// The sector count of a READ CAPACITY reply: last logical block + 1.
[[nodiscard]] std::int64_t DecodeCapacity(std::span<const std::byte> reply);

// One 11-byte descriptor of a full-TOC reply.
struct FullTocDescriptor {
    std::uint8_t session = 0;
    std::uint8_t adr = 0;
    std::uint8_t control = 0;
    std::uint8_t point = 0;
    std::uint8_t min = 0;
    std::uint8_t sec = 0;
    std::uint8_t frame = 0;
    std::uint8_t pmin = 0;
    std::uint8_t psec = 0;
    std::uint8_t pframe = 0;
};

// The descriptors the reply declares, cut to those that lie wholly inside the bytes received.
[[nodiscard]] std::size_t FullTocDescriptorCount(std::span<const std::byte> reply);
[[nodiscard]] FullTocDescriptor FullTocDescriptorAt(std::span<const std::byte> reply,
                                                    std::size_t index);

// Whether the reply's addresses are BCD, starting from the drive's previous answer.
[[nodiscard]] bool DecideFullTocBcd(std::span<const std::byte> reply, bool previous);

// Fills endSector of entries 0..n-1, where `entries` holds the n tracks followed by the
// lead-out. With a full-TOC reply, `bcd` is the drive's remembered answer and receives the new
// one; without one (or when it does not fit the tracks) sessions follow the track kinds.
void DecodeSessions(std::optional<std::span<const std::byte>> fullToc, bool& bcd,
                    std::span<TocEntry> entries);

}  // namespace audio
