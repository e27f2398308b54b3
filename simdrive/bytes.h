// Big-endian field access for command blocks and replies, one place for every offset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace simdrive {

[[nodiscard]] inline uint32_t GetBe16(std::span<const uint8_t> bytes, size_t at) {
    return (uint32_t{bytes[at]} << 8) | bytes[at + 1];
}

[[nodiscard]] inline uint32_t GetBe24(std::span<const uint8_t> bytes, size_t at) {
    return (uint32_t{bytes[at]} << 16) | (uint32_t{bytes[at + 1]} << 8) | bytes[at + 2];
}

[[nodiscard]] inline uint32_t GetBe32(std::span<const uint8_t> bytes, size_t at) {
    return (uint32_t{bytes[at]} << 24) | (uint32_t{bytes[at + 1]} << 16) |
           (uint32_t{bytes[at + 2]} << 8) | bytes[at + 3];
}

inline void PutBe16(std::span<uint8_t> bytes, size_t at, uint32_t value) {
    bytes[at] = static_cast<uint8_t>(value >> 8);
    bytes[at + 1] = static_cast<uint8_t>(value);
}

inline void PutBe24(std::span<uint8_t> bytes, size_t at, uint32_t value) {
    bytes[at] = static_cast<uint8_t>(value >> 16);
    bytes[at + 1] = static_cast<uint8_t>(value >> 8);
    bytes[at + 2] = static_cast<uint8_t>(value);
}

inline void PutBe32(std::span<uint8_t> bytes, size_t at, uint32_t value) {
    bytes[at] = static_cast<uint8_t>(value >> 24);
    bytes[at + 1] = static_cast<uint8_t>(value >> 16);
    bytes[at + 2] = static_cast<uint8_t>(value >> 8);
    bytes[at + 3] = static_cast<uint8_t>(value);
}

[[nodiscard]] inline uint32_t GetLe16(std::span<const uint8_t> bytes, size_t at) {
    return uint32_t{bytes[at]} | (uint32_t{bytes[at + 1]} << 8);
}

[[nodiscard]] inline uint32_t GetLe32(std::span<const uint8_t> bytes, size_t at) {
    return uint32_t{bytes[at]} | (uint32_t{bytes[at + 1]} << 8) | (uint32_t{bytes[at + 2]} << 16) |
           (uint32_t{bytes[at + 3]} << 24);
}

inline void PutLe16(std::span<uint8_t> bytes, size_t at, uint32_t value) {
    bytes[at] = static_cast<uint8_t>(value);
    bytes[at + 1] = static_cast<uint8_t>(value >> 8);
}

inline void PutLe32(std::span<uint8_t> bytes, size_t at, uint32_t value) {
    PutLe16(bytes, at, value & 0xFFFF);
    PutLe16(bytes, at + 2, value >> 16);
}

}  // namespace simdrive
