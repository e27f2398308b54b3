// How a drive flags: of the flags on bytes that are right (false flags), how many sit on the
// other byte of a wrong sample, elsewhere in a sector with errors, or in a sector with no error
// at all; and how many sectors are flagged whole. A drive that flags exact bytes leaves the
// first two near zero; one that flags whole samples fills the first; one that flags whole
// sectors fills the second and its whole-sector count. Rippers treat the three differently.
#pragma once

#include <cstdint>

namespace report {

struct FlagGranularity {
    std::uint64_t falseFlags = 0;
    std::uint64_t onWrongSample = 0;          // the other byte of a wrong 16-bit sample
    std::uint64_t inSectorWithErrors = 0;     // elsewhere in a sector that has wrong bytes
    std::uint64_t inSectorWithoutErrors = 0;  // in a sector whose bytes are all right
    std::uint64_t sectorsFlaggedWhole = 0;    // all 294 pointer bytes set
};

// One sector's part: its wrong and flagged byte counts, its false flags on the other byte of a
// wrong sample, and whether every byte of it is flagged.
void AddSector(std::uint64_t wrongBytes, std::uint64_t flaggedBytes, std::uint64_t detectedBytes,
               std::uint64_t onWrongSample, bool flaggedWhole, FlagGranularity& granularity);

// Of 64 audio bytes (one bit each, pointer order): the false flags on the other byte of a wrong
// sample. A sample is two bytes, bits 7-6, 5-4, 3-2, 1-0 of each mask byte.
[[nodiscard]] int FalseFlagsOnWrongSamples(std::uint64_t wrong, std::uint64_t flag);

}  // namespace report
