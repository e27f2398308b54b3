// The wire layouts of the C2 reads and their split into audio and C2 records; the capabilities
// page bit; the model-name rule of C2 detection. Pure functions over bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace audio {

inline constexpr std::size_t audioBytesPerSector = 2'352;
inline constexpr std::size_t c2PointerBytes = 294;  // one bit per audio byte

// C2Record: the drive's 294 pointer bytes, their OR (non-zero when any byte of the sector is
// flagged) and a zero byte.
inline constexpr std::size_t c2RecordBytes = 296;
inline constexpr std::size_t c2RecordBlockError = 294;
inline constexpr std::size_t c2RecordZero = 295;

inline constexpr std::int32_t maxC2ReadSectors = 42;

// Where one sector's audio and C2 pointers lie in its block on the wire.
struct C2WireForm {
    std::size_t blockBytes = 0;
    std::size_t audioAt = 0;
    std::size_t c2At = 0;
};

[[nodiscard]] C2WireForm WireFormOf(std::int32_t method);

// Copies each of `count` blocks' audio to audio[i x 2,352] and its pointers to a C2 record at
// c2[i x 296] with the computed OR byte. A record or sector beyond its buffer is a programming
// error.
void SplitC2Transfer(std::int32_t method, std::span<const std::byte> wire, std::int32_t count,
                     std::span<std::byte> c2, std::span<std::byte> audio);

// Bit `bit` of byte `byteIndex` of the capabilities page in a MODE SENSE(6) / (10) reply;
// nothing when that byte lies outside the reply.
[[nodiscard]] std::optional<bool> CapabilityBitOfSense6(std::span<const std::byte> reply,
                                                        std::int32_t bit, std::int32_t byteIndex);
[[nodiscard]] std::optional<bool> CapabilityBitOfSense10(std::span<const std::byte> reply,
                                                         std::int32_t bit, std::int32_t byteIndex);

// The big-endian 16-bit field at byte `byteIndex` of the capabilities page in a MODE SENSE(10)
// reply when `tenByte`, else a MODE SENSE(6) one (the current read speed in kB/s is at byte
// 14); nothing when it lies outside the reply.
inline constexpr std::int32_t currentReadSpeedByte = 14;
[[nodiscard]] std::optional<std::uint16_t> CapabilityWord(std::span<const std::byte> reply,
                                                          bool tenByte, std::int32_t byteIndex);

// Drives named "PLEXTOR CD-R ..." read C2 pointers only without the block error byte. The
// comparison ignores case and stops at the end of the shorter text; an empty name never matches.
[[nodiscard]] bool HasC2WithoutBlockErrorName(std::string_view productName);

}  // namespace audio
