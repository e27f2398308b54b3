// Counter-based randomness: every decision is a pure function of (seed, position), so the
// order and chunking of reads never change what a disc delivers.
#pragma once

#include <cstdint>

namespace simdrive {

[[nodiscard]] constexpr uint64_t SplitMix64(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// Distinct streams of decisions drawn from one seed.
enum class Stream : uint64_t {
    corruption = 1,
    corruptValue = 2,
    flagging = 3,
    scratchPlace = 4,
    pattern = 5,
};

[[nodiscard]] constexpr uint64_t Draw(uint64_t seed, Stream stream, uint64_t index) {
    return SplitMix64(SplitMix64(seed ^ (static_cast<uint64_t>(stream) << 56)) ^ index);
}

// A uniform value in [0, 1) with 53 bits of resolution.
[[nodiscard]] constexpr double Unit(uint64_t draw) {
    return static_cast<double>(draw >> 11) * (1.0 / 9007199254740992.0);
}

}  // namespace simdrive
