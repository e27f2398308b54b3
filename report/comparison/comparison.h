// The comparison of an aligned extraction with the reference, byte by byte and sample by
// sample, against the drive's C2 pointers.
//
// Definitions, per audio byte: wrong = differs from the reference; flagged = its C2 bit is set;
// detected (true positive) = wrong and flagged; missed (false negative) = wrong, not flagged;
// false flag (false positive) = flagged, not wrong. Per 16-bit sample: wrong = any of its two
// bytes wrong; flagged = any of its two bytes flagged; the same three outcomes follow.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "report/comparison/block_reader.h"
#include "report/comparison/granularity.h"

namespace report {

struct Tally {
    std::uint64_t wrong = 0;
    std::uint64_t flagged = 0;
    std::uint64_t detected = 0;
    [[nodiscard]] std::uint64_t Missed() const { return wrong - detected; }
    [[nodiscard]] std::uint64_t FalseFlags() const { return flagged - detected; }
};

struct SectorCounts {
    std::uint16_t wrongBytes = 0;
    std::uint16_t flaggedBytes = 0;
    std::uint16_t detectedBytes = 0;
    std::uint16_t wrongSamples = 0;
    std::uint16_t flaggedSamples = 0;
    std::uint16_t detectedSamples = 0;
    std::uint16_t falseOnWrongSample = 0;  // false flags on the other byte of a wrong sample
    bool flaggedWhole = false;             // all 294 pointer bytes set
    bool zeroFilled = false;  // delivered as silence with no flags where the reference has audio
};

// C2 pointers moved against the audio: the flag of audio byte i is read from pointer bit
// i + bits of the whole file's pointer stream (one sector = 2,352 bits = 294 pointer bytes).
// Positive: the drive delivered its pointers late.
struct C2Shift {
    std::int32_t bits = 0;
    // Whole sectors, then whole pointer bytes, then bits, all with the sign of `bits`.
    [[nodiscard]] std::int32_t Sectors() const;
    [[nodiscard]] std::int32_t Bytes() const;
    [[nodiscard]] std::int32_t BitsLeft() const;
    // 2,360 -> "1 sector + 1 byte late"; -3 -> "3 bits early"; 0 -> "as delivered".
    [[nodiscard]] std::string Describe() const;
    friend bool operator==(const C2Shift&, const C2Shift&) = default;
};

struct ShiftScore {
    C2Shift shift;
    Tally bytes;  // byte-level outcome with the pointers moved by `shift`
};

// The C2 tallies cover the sectors the drive delivered; a zero-filled sector (a failed read)
// counts among the sectors with errors and in `undeliveredBytes` only.
struct PassResult {
    Tally bytes;
    Tally samples;
    std::int64_t sectorsWithErrors = 0;
    std::int64_t zeroFilledSectors = 0;
    std::uint64_t undeliveredBytes = 0;  // wrong bytes of the zero-filled sectors
    FlagGranularity granularity;         // of the delivered sectors
    std::vector<SectorCounts> sectors;
    std::vector<ShiftScore> shifts;  // literal first; filled when scoring was asked for
};

struct ComparisonFiles {
    BlockSource* reference = nullptr;
    BlockSource* drive = nullptr;
    BlockSource* c2 = nullptr;
    std::int32_t offsetFrames = 0;
    bool channelsSwapped = false;
    std::int64_t sectors = 0;  // the extraction's
    // The extraction's sectors that overlap the reference: [firstCompared, endCompared).
    std::int64_t firstCompared = 0;
    std::int64_t endCompared = 0;
};

// The shifts tried besides the literal alignment: every whole pointer byte up to 3 sectors
// either way (-882..+882 bytes), and single bits up to 16 either way; nearest first.
[[nodiscard]] std::vector<C2Shift> CandidateShifts();

// One streaming pass over all sectors with the pointers moved by `shift`; with
// `scoreShifts` it also scores every candidate shift. False on a read error.
[[nodiscard]] bool ComparePass(const ComparisonFiles& files, C2Shift shift, bool scoreShifts,
                               PassResult& result);

// The candidate that explains the errors best (fewest missed plus false flags); the literal
// alignment unless another explains clearly more (among 1,800 candidates one fits a little
// better by chance alone).
[[nodiscard]] ShiftScore BestShift(const std::vector<ShiftScore>& scores);

}  // namespace report
