// Big-endian fields of command blocks and drive replies. Reading past the bytes a drive sent
// yields zero, so a reply that is shorter than it claims can never make us read stale data.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace audio {

[[nodiscard]] inline std::uint8_t ByteAt(std::span<const std::byte> reply, std::size_t at) {
    return at < reply.size() ? std::to_integer<std::uint8_t>(reply[at]) : 0;
}

[[nodiscard]] inline std::uint32_t Be16At(std::span<const std::byte> reply, std::size_t at) {
    return (std::uint32_t{ByteAt(reply, at)} << 8) | ByteAt(reply, at + 1);
}

[[nodiscard]] inline std::uint32_t Be32At(std::span<const std::byte> reply, std::size_t at) {
    return (Be16At(reply, at) << 16) | Be16At(reply, at + 2);
}

// The low 32 bits of `value`, most significant byte first, at cdb[at..at+3].
template <std::size_t N>
void PutBe32(std::array<std::uint8_t, N>& cdb, std::size_t at, std::uint64_t value) {
    cdb[at] = static_cast<std::uint8_t>(value >> 24);
    cdb[at + 1] = static_cast<std::uint8_t>(value >> 16);
    cdb[at + 2] = static_cast<std::uint8_t>(value >> 8);
    cdb[at + 3] = static_cast<std::uint8_t>(value);
}

}  // namespace audio
