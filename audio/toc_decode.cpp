#include "audio/toc_decode.h"

#include <algorithm>
#include <array>
#include <utility>

#include "audio/bytes.h"
#include "runtime/error.h"

namespace audio {
namespace {

constexpr std::int64_t sectorsIn100Minutes = 450'000;
constexpr std::int64_t largestLeadOut = 0x100000;
constexpr std::int64_t sectorsBeforeProgramArea = 150;  // MSF 00:02:00 is sector 0
// Between the first and the second session: lead-out 6,750, lead-in 4,500, pre-gap 150.
constexpr std::int64_t firstSessionGap = 11'400;
// Between later sessions the lead-out is only 2,250 sectors long.
constexpr std::int64_t laterSessionGap = 6'900;
constexpr std::uint8_t dataTrackBit = 0x04;
constexpr std::uint8_t firstPointOfDisc = 0xA0;
constexpr std::uint8_t sessionLeadOutPoint = 0xA2;
constexpr std::size_t tocHeaderBytes = 4;
constexpr std::size_t tocDescriptorBytes = 8;
constexpr std::size_t fullTocDescriptorBytes = 11;

template <typename Entry>
Entry& EntryAt(std::span<Entry> table, std::int32_t index) {
    const auto at = static_cast<std::size_t>(index);
    runtime::CheckIndex(at, table.size());
    return table[at];
}

// A track or lead-out address; anything outside a 100-minute disc is taken as 0.
std::int64_t TocAddress(std::span<const std::byte> reply, std::size_t at) {
    const auto address = static_cast<std::int32_t>(Be32At(reply, at));
    return address >= 0 && address < sectorsIn100Minutes ? address : 0;
}

bool IsBcd(std::uint8_t value) {
    return (value >> 4) <= 9 && (value & 0x0F) <= 9;
}

std::uint8_t FromBcd(std::uint8_t value) {
    return static_cast<std::uint8_t>((value >> 4) * 10 + (value & 0x0F));
}

// Values no binary time can hold: 100 minutes or more, a frame above 74.
bool ImpossibleAsBinary(std::uint8_t minute, std::uint8_t frame) {
    return minute >= 100 || frame > 74;
}

// The session numbers of entries 0..n and the end sector of each session.
struct SessionLayout {
    std::array<std::int32_t, maxTocTracks + 1> sessionOf{};
    std::array<std::int64_t, 256> end{};
    std::array<bool, 256> endKnown{};

    void SetEnd(std::int32_t session, std::int64_t sector) {
        runtime::CheckIndex(static_cast<std::size_t>(session), end.size());
        end[static_cast<std::size_t>(session)] = sector;
        endKnown[static_cast<std::size_t>(session)] = true;
    }
    [[nodiscard]] std::optional<std::int64_t> EndOf(std::int32_t session) const {
        const auto at = static_cast<std::size_t>(session);
        if (session < 0 || at >= end.size() || !endKnown[at]) {
            return std::nullopt;
        }
        return end[at];
    }
};

// A full-TOC time as a sector number from the start of the lead-in's time base; times from 90
// minutes on count back from 100 minutes (lead-in addresses). Never below 150.
std::int64_t TimeToSector(std::uint8_t minute, std::uint8_t second, std::uint8_t frame) {
    std::int64_t sector = (std::int64_t{minute} * 60 + second) * 75 + frame;
    if (minute >= 90) {
        sector -= sectorsIn100Minutes;
    }
    return std::max(sector, sectorsBeforeProgramArea);
}

bool SessionsFromFullToc(std::span<const std::byte> reply, bool bcd,
                         std::span<const TocEntry> entries, SessionLayout& layout) {
    const auto decode = [bcd](std::uint8_t value) { return bcd ? FromBcd(value) : value; };
    const std::size_t trackCount = entries.size() - 1;
    std::array<bool, maxTocTracks + 1> matched{};
    std::array<std::int64_t, 256> leadOutTime{};
    std::array<bool, 256> leadOutSeen{};
    std::optional<std::int64_t> offset;
    bool anyLeadOut = false;
    for (std::size_t d = 0; d < FullTocDescriptorCount(reply); ++d) {
        const FullTocDescriptor descriptor = FullTocDescriptorAt(reply, d);
        if (descriptor.adr != 1) {
            continue;
        }
        const std::uint8_t minute = decode(descriptor.pmin);
        const std::uint8_t second = decode(descriptor.psec);
        const std::uint8_t frame = decode(descriptor.pframe);
        if (descriptor.point == sessionLeadOutPoint) {
            if (minute >= 90 || second >= 60 || frame >= 75) {
                return false;
            }
            leadOutTime[descriptor.session] = TimeToSector(minute, second, frame);
            leadOutSeen[descriptor.session] = true;
            anyLeadOut = true;
        }
        if (descriptor.point >= firstPointOfDisc) {
            continue;
        }
        const std::int32_t track = decode(descriptor.point);
        for (std::size_t i = 0; i < trackCount; ++i) {
            if (entries[i].track == track) {
                matched[i] = true;
                layout.sessionOf[i] = descriptor.session;
                if (!offset) {
                    offset = TimeToSector(minute, second, frame) - entries[i].startSector;
                }
                break;
            }
        }
    }
    if (!anyLeadOut || !offset) {
        return false;
    }
    for (std::size_t i = 0; i <= trackCount; ++i) {
        if (!matched[0]) {
            layout.sessionOf[i] = 1;
        } else if (!matched[i]) {
            layout.sessionOf[i] = layout.sessionOf[i - 1] + 1;
        }
    }
    for (std::size_t session = 0; session < leadOutSeen.size(); ++session) {
        if (leadOutSeen[session]) {
            layout.SetEnd(static_cast<std::int32_t>(session), leadOutTime[session] - *offset);
        }
    }
    for (std::size_t i = 0; i < trackCount; ++i) {
        const auto end = layout.EndOf(layout.sessionOf[i]);
        if (end && *end < entries[i].startSector) {
            return false;
        }
    }
    return true;
}

// A new session wherever the track kind changes between audio and data, with the gaps a
// multi-session disc leaves between them.
void SessionsFromTrackKinds(std::span<const TocEntry> entries, SessionLayout& layout) {
    const std::size_t trackCount = entries.size() - 1;
    std::int32_t session = 1;
    layout.sessionOf[0] = session;
    for (std::size_t i = 1; i < trackCount; ++i) {
        if ((entries[i].control & dataTrackBit) != (entries[i - 1].control & dataTrackBit)) {
            const std::int64_t gap = session == 1 ? firstSessionGap : laterSessionGap;
            layout.SetEnd(session, entries[i].startSector - gap);
            ++session;
        }
        layout.sessionOf[i] = session;
    }
    layout.SetEnd(session, entries[trackCount].startSector);
    layout.sessionOf[trackCount] = session + 1;
}

void FillEndSectors(std::span<TocEntry> entries, const SessionLayout& layout) {
    for (std::size_t i = 0; i + 1 < entries.size(); ++i) {
        const std::int64_t next = entries[i + 1].startSector;
        if (layout.sessionOf[i + 1] == layout.sessionOf[i]) {
            entries[i].endSector = next;
        } else {
            entries[i].endSector = layout.EndOf(layout.sessionOf[i]).value_or(next);
        }
    }
}

}  // namespace

std::int32_t DecodeToc(std::span<const std::byte> reply, std::span<TocEntry> table,
                       std::int32_t& lastTrack, std::int32_t& firstTrack) {
    firstTrack = ByteAt(reply, 2);
    lastTrack = ByteAt(reply, 3);
    const auto descriptorAt = [](std::int32_t index) {
        return tocHeaderBytes + tocDescriptorBytes * static_cast<std::size_t>(index);
    };
    std::int32_t count = 0;
    while (count < maxTocTracks) {
        const std::size_t at = descriptorAt(count);
        TocEntry& entry = EntryAt(table, count);
        const std::uint8_t adrControl = ByteAt(reply, at + 1);
        entry.adr = static_cast<std::uint8_t>(std::min(adrControl >> 4, 4));
        entry.control = adrControl & 0x0F;
        entry.track = ByteAt(reply, at + 2);
        entry.startSector = TocAddress(reply, at + 4);
        ++count;
        if (entry.track == lastTrack) {
            break;
        }
    }
    TocEntry& leadOut = EntryAt(table, count);
    leadOut.track = -1;
    leadOut.startSector = TocAddress(reply, descriptorAt(count) + 4);
    return count;
}

bool LeadOutImplausible(std::span<const TocEntry> table, std::int32_t trackCount) {
    const auto n = static_cast<std::size_t>(trackCount);
    runtime::CheckIndex(n, table.size());
    return table[n].startSector < table[n - 1].startSector ||
           table[n].startSector >= largestLeadOut;
}

ReadRange DiscReadRange(std::span<const TocEntry> table, std::int32_t trackCount,
                        std::int32_t firstTrack, std::int32_t lastTrack) {
    const std::int32_t firstEntryTrack = EntryAt(table, 0).track;
    if (firstEntryTrack < 1 || firstEntryTrack > 99) {
        return {TocFault::noTrack};  // a reply of only the lead-out, or of no descriptor
    }
    if (firstTrack > lastTrack) {
        return {TocFault::firstTrackAfterLast};
    }
    const std::int64_t leadOut = EntryAt(table, trackCount).startSector;
    if (LeadOutImplausible(table, trackCount) || !std::in_range<std::int32_t>(leadOut)) {
        return {TocFault::noUsableLeadOut};
    }
    if (leadOut <= 0) {
        return {TocFault::nothingToRead};
    }
    return {TocFault::none, static_cast<std::int32_t>(leadOut)};
}

std::int64_t DecodeCapacity(std::span<const std::byte> reply) {
    return std::int64_t{Be32At(reply, 0)} + 1;
}

std::size_t FullTocDescriptorCount(std::span<const std::byte> reply) {
    const std::uint32_t dataLength = Be16At(reply, 0);  // counts from byte 2
    const std::size_t declared = dataLength >= 2 ? (dataLength - 2) / fullTocDescriptorBytes : 0;
    const std::size_t received = reply.size() > tocHeaderBytes
                                     ? (reply.size() - tocHeaderBytes) / fullTocDescriptorBytes
                                     : 0;
    return std::min(declared, received);
}

FullTocDescriptor FullTocDescriptorAt(std::span<const std::byte> reply, std::size_t index) {
    const std::size_t at = tocHeaderBytes + fullTocDescriptorBytes * index;
    const std::uint8_t adrControl = ByteAt(reply, at + 1);
    return FullTocDescriptor{
        .session = ByteAt(reply, at),
        .adr = static_cast<std::uint8_t>(adrControl >> 4),
        .control = static_cast<std::uint8_t>(adrControl & 0x0F),
        .point = ByteAt(reply, at + 3),  // byte 2 (TNO) is always 0 here
        .min = ByteAt(reply, at + 4),
        .sec = ByteAt(reply, at + 5),
        .frame = ByteAt(reply, at + 6),
        .pmin = ByteAt(reply, at + 8),  // byte 7 is the ZERO byte
        .psec = ByteAt(reply, at + 9),
        .pframe = ByteAt(reply, at + 10),
    };
}

bool DecideFullTocBcd(std::span<const std::byte> reply, bool previous) {
    bool bcd = previous;
    for (std::size_t d = 0; d < FullTocDescriptorCount(reply); ++d) {
        const FullTocDescriptor t = FullTocDescriptorAt(reply, d);
        if (t.adr != 1 || t.point > sessionLeadOutPoint) {
            continue;
        }
        const bool track = t.point < firstPointOfDisc;
        bool impossible = ImpossibleAsBinary(t.pmin, t.pframe);
        bool validBcd = IsBcd(t.pmin) && IsBcd(t.psec) && IsBcd(t.pframe);
        if (track) {
            impossible = impossible || ImpossibleAsBinary(t.min, t.frame);
            validBcd = validBcd && IsBcd(t.point) && IsBcd(t.min) && IsBcd(t.sec) && IsBcd(t.frame);
        }
        if (impossible) {
            bcd = true;
        }
        if (!validBcd) {
            bcd = false;
        }
    }
    return bcd;
}

void DecodeSessions(std::optional<std::span<const std::byte>> fullToc, bool& bcd,
                    std::span<TocEntry> entries) {
    runtime::CheckRange(entries.size() >= 2 && entries.size() <= maxTocTracks + 1);
    SessionLayout layout;
    bool fromFullToc = false;
    if (fullToc) {
        bcd = DecideFullTocBcd(*fullToc, bcd);
        fromFullToc = SessionsFromFullToc(*fullToc, bcd, entries, layout);
    }
    if (!fromFullToc) {
        layout = SessionLayout{};
        SessionsFromTrackKinds(entries, layout);
    }
    FillEndSectors(entries, layout);
}

}  // namespace audio
