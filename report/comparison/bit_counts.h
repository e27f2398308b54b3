// Bit tricks of the comparison. C2 pointers are one bit per audio byte, most significant bit
// first: bit 7 of pointer byte k belongs to audio byte 8k. The masks below use the same order,
// so a mask of wrong bytes and a pointer byte can be ANDed directly.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace report {

[[nodiscard]] inline std::uint64_t LoadLe64(const std::uint8_t* p) {
    std::uint64_t v = 0;
    std::memcpy(&v, p, 8);
    if constexpr (std::endian::native == std::endian::big) {
        v = __builtin_bswap64(v);
    }
    return v;
}

// 8 audio bytes' XOR difference (little-endian load: byte 0 in the low bits) -> one bit per
// byte that differs, byte 0 in bit 7.
[[nodiscard]] inline std::uint8_t WrongByteMask(std::uint64_t difference) {
    std::uint64_t t = difference;
    t |= t >> 4;
    t |= t >> 2;
    t |= t >> 1;
    t &= 0x0101010101010101ULL;  // bit 8k set when byte k differs
    // Moves bit 8k to bit 63 - k; the partial products never overlap, so nothing carries.
    return static_cast<std::uint8_t>((t * 0x8040201008040201ULL) >> 56);
}

// A 16-bit sample is two bytes (bits 7-6, 5-4, 3-2, 1-0 of every byte of a mask): one bit per
// sample that has any of its bytes marked, in bits 6, 4, 2 and 0 of each byte.
[[nodiscard]] inline std::uint64_t SampleMask(std::uint64_t bytes) {
    return (bytes | bytes >> 1) & 0x5555555555555555ULL;
}

[[nodiscard]] inline int Count(std::uint64_t bits) {
#if defined(__POPCNT__)
    return std::popcount(bits);
#else
    // Without the popcnt instruction std::popcount is a library call, and the comparison makes
    // several per pointer word: counted in registers instead.
    bits -= bits >> 1 & 0x5555555555555555ULL;
    bits = (bits & 0x3333333333333333ULL) + (bits >> 2 & 0x3333333333333333ULL);
    bits = (bits + (bits >> 4)) & 0x0F0F0F0F0F0F0F0FULL;
    return static_cast<int>(bits * 0x0101010101010101ULL >> 56);
#endif
}

// 64 bits of an MSB-first bit stream from bit `position`; needs 9 readable bytes.
[[nodiscard]] inline std::uint64_t LoadBits(const std::uint8_t* stream, std::int64_t position) {
    const std::uint8_t* p = stream + (position >> 3);
    const int shift = static_cast<int>(position & 7);
    std::uint64_t v = 0;
    std::memcpy(&v, p, 8);
    if constexpr (std::endian::native == std::endian::little) {
        v = __builtin_bswap64(v);
    }
    return shift == 0 ? v : v << shift | p[8] >> (8 - shift);
}

// Stores 64 bits of an MSB-first bit stream at byte `p`, the inverse of LoadBits at a whole byte.
inline void StoreBits(std::uint8_t* p, std::uint64_t v) {
    if constexpr (std::endian::native == std::endian::little) {
        v = __builtin_bswap64(v);
    }
    std::memcpy(p, &v, 8);
}

}  // namespace report
