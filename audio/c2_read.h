// Reading audio together with its C2 error pointers, and finding the read form a drive offers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "audio/c2_decode.h"
#include "drive/drive_record.h"

namespace audio {

// Reads `count` (0..42) sectors from `sector` (its low 32 bits are sent) in the drive's
// c2Method: sector i's audio to audioBuffer[i x 2,352], its C2Record to c2Buffer[i x 296].
// Both buffers receive the split of the transfer even when the read fails (zeros where the
// drive sent nothing). False for a failed read or when the drive has no C2 form (no command
// is sent then). Buffers too small for `count` sectors are a programming error.
[[nodiscard]] bool ReadAudioC2(std::span<std::byte> c2Buffer, std::span<std::byte> audioBuffer,
                               std::int32_t count, std::int64_t sector, drive::DriveRecord& drive);

// Tries the C2 read forms at `sector` in the order of preference and stores the first that
// works in drive.c2Method (-1 when none does); returns whether one was found.
[[nodiscard]] bool DetectC2Mode(std::int32_t sector, drive::DriveRecord& drive);

// Switches the drive to density 0x82 and 2,646-byte blocks (pointers, then audio) for the
// READ(10) form. Its outcome shows in the read that follows.
void PrepareReadC2(drive::DriveRecord& drive);

// Bit `bit` (0: least significant) of byte `byteIndex` of the CD capabilities mode page;
// false when neither MODE SENSE(6) nor MODE SENSE(10) delivered it.
[[nodiscard]] bool GetCapabilityBit(bool& value, std::int32_t bit, std::int32_t byteIndex,
                                    drive::DriveRecord& drive);

}  // namespace audio
