// The command descriptor blocks the audio layer sends, built byte by byte.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace audio {

struct CommandBlock {
    std::array<std::uint8_t, 12> bytes{};
    std::uint8_t length = 0;  // 6, 10 or 12

    [[nodiscard]] std::span<const std::uint8_t> Bytes() const {
        return std::span(bytes).first(length);
    }
};

// Reply and parameter sizes that go with the commands below.
inline constexpr std::uint32_t tocReplyBytes = 804;  // header + 100 descriptors of 8 bytes
inline constexpr std::uint32_t fullTocReplyBytes = 3'524;
inline constexpr std::uint32_t capacityReplyBytes = 8;
inline constexpr std::uint32_t modeSense6ReplyBytes = 34;
inline constexpr std::uint32_t modeSense10ReplyBytes = 38;
inline constexpr std::uint32_t densityListBytes = 12;

// Where a drive looks for the full-TOC format: the current field, or the control byte of
// older drives.
enum class FullTocForm { formatField, controlByte };

// C2 read forms, the values of DriveRecord::c2Method.
inline constexpr std::int32_t c2ReadCdWithBlockError = 0;
inline constexpr std::int32_t c2VendorD8 = 1;
inline constexpr std::int32_t c2DensitySwitch = 2;
inline constexpr std::int32_t c2ReadCd = 3;

[[nodiscard]] CommandBlock ReadTocCommand();
[[nodiscard]] CommandBlock ReadFullTocCommand(FullTocForm form);
[[nodiscard]] CommandBlock ReadCapacityCommand();
[[nodiscard]] CommandBlock CapabilitiesSense6Command();
[[nodiscard]] CommandBlock CapabilitiesSense10Command();
[[nodiscard]] CommandBlock DensitySelectCommand();
// The MODE SELECT parameter lists: density 0x82 with block length 2,646 (audio with C2
// pointers), and density 0 with block length 2,048 (data, as a drive starts).
[[nodiscard]] std::array<std::uint8_t, densityListBytes> C2DensityParameterList();
[[nodiscard]] std::array<std::uint8_t, densityListBytes> DataDensityParameterList();
[[nodiscard]] CommandBlock TestUnitReadyCommand();
[[nodiscard]] CommandBlock RezeroUnitCommand();
// SET CD SPEED with a read speed in kB/s (0xFFFF: the drive's fastest); the write speed is
// left at the fastest.
[[nodiscard]] CommandBlock SetCdSpeedCommand(std::uint16_t readKBps);
// The read of `count` sectors from `sector` (its low 32 bits) in C2 form `method`; a method
// other than 0, 1 and 2 reads with READ CD's C2 flags alone.
[[nodiscard]] CommandBlock C2ReadCommand(std::int32_t method, std::int64_t sector,
                                         std::uint8_t count);

}  // namespace audio
