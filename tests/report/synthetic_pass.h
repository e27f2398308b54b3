// A drive's pass made by hand from the reference's own bytes, for cases the simulated drive does
// not model: chosen wrong bytes, chosen failed reads, chosen flags delivered with a chosen lag.
// The truth of such a pass is what the test chose, worked out by the test itself.
#pragma once

#include <cstdint>
#include <filesystem>
#include <utility>
#include <vector>

namespace report_test {

inline constexpr std::int64_t kSectorBytes = 2352;
inline constexpr std::int64_t kPointerBytes = 294;

struct SyntheticPass {
    // Audio bytes made wrong (XOR 0x5A): (sector, byte in the sector).
    std::vector<std::pair<std::int64_t, std::int32_t>> wrong;
    // Audio bytes the drive flags, in its own frame (before the lag): (sector, byte).
    std::vector<std::pair<std::int64_t, std::int32_t>> flagged;
    // The pointers arrive this many pointer bytes late.
    std::int64_t lagBytes = 0;
    // Failed reads: the sector's audio and pointers are zeros, whatever the lag brought.
    std::vector<std::int64_t> zeroFilled;
    // Pointer bytes set as delivered (after the lag): [first, first + count) of the .c2 file.
    std::vector<std::pair<std::int64_t, std::int64_t>> setPointerBytes;
};

// Every byte of a sector flagged: the drive flags whole sectors.
void FlagWholeSector(SyntheticPass& pass, std::int64_t sector);

// Writes `wav` (the reference's audio with the pass's damage; the reference's 44-byte header)
// and `c2` (294 bytes per sector, sparse where nothing is flagged).
void WriteSyntheticPass(const std::filesystem::path& reference, const std::filesystem::path& wav,
                        const std::filesystem::path& c2, const SyntheticPass& pass);

// Runs the built Tamblin in `folder`: the genuine Reference.wav (783 MB, seconds to write).
[[nodiscard]] bool WriteGenuineReference(const std::filesystem::path& folder);

}  // namespace report_test
