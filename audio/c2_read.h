// Reading audio together with its C2 error pointers, and finding the read form a drive offers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "audio/c2_decode.h"
#include "drive/aspi_proc.h"
#include "drive/drive_record.h"

namespace audio {

// Reads `count` (0..42) sectors from `sector` (its low 32 bits are sent) in the drive's
// c2Method: sector i's audio to audioBuffer[i x 2,352], its C2Record to c2Buffer[i x 296].
// Both buffers receive the split of the transfer even when the read fails (zeros where the
// drive sent nothing). False for a failed read or when the drive has no C2 form (no command
// is sent then). Buffers too small for `count` sectors are a programming error.
[[nodiscard]] bool ReadAudioC2(std::span<std::byte> c2Buffer, std::span<std::byte> audioBuffer,
                               std::int32_t count, std::int64_t sector, drive::DriveRecord& drive);

// The same read, with the drive's whole answer: a study tells a disc that is gone from a
// sector that could not be read. Both send the read again as drive/manners.h decides (after a
// unit attention, or while the drive becomes ready); the answer is the last one, its `elapsed`
// the time spent in all of its reads, waits left out.
[[nodiscard]] drive::CommandResult ReadAudioC2Answer(std::span<std::byte> c2Buffer,
                                                     std::span<std::byte> audioBuffer,
                                                     std::int32_t count, std::int64_t sector,
                                                     drive::DriveRecord& drive);

// How the search for a C2 read form ended: a form found, none the drive takes, or none found
// because the disc could not be read where the forms were tried (medium errors only).
enum class C2Search { found, noForm, unreadable };

// Tries the C2 read forms at `sector` in the order of preference and stores the first that
// works in drive.c2Method (-1 when none does). A probe that meets a medium error is tried again
// at a few later sectors, so that a scratch at the start does not hide a form.
[[nodiscard]] C2Search FindC2Mode(std::int32_t sector, drive::DriveRecord& drive);
// Whether FindC2Mode found a form.
[[nodiscard]] bool DetectC2Mode(std::int32_t sector, drive::DriveRecord& drive);

// Every C2 form the drive executes, by c2Method; a study tries each on every drive, whatever
// its name or capabilities page say, with the same retries further on after a medium error.
struct C2FormsFound {
    std::array<bool, 4> byMethod{};
    bool unreadable = false;  // a form met only medium errors
    [[nodiscard]] bool Any() const {
        return byMethod[0] || byMethod[1] || byMethod[2] || byMethod[3];
    }
};
[[nodiscard]] C2FormsFound FindEveryC2Form(std::int32_t sector, drive::DriveRecord& drive);

// SET CD SPEED; whether the drive took it.
[[nodiscard]] bool SetReadSpeed(std::uint16_t readKBps, drive::DriveRecord& drive);
// The current read speed the capabilities page gives, in kB/s; nothing when neither MODE
// SENSE delivered it.
[[nodiscard]] std::optional<std::uint16_t> CurrentReadSpeed(drive::DriveRecord& drive);

// Switches the drive to density 0x82 and 2,646-byte blocks (pointers, then audio) for the
// READ(10) form. Its outcome shows in the read that follows.
void PrepareReadC2(drive::DriveRecord& drive);

// Sets density 0 and 2,048-byte blocks again if PrepareReadC2 ever ran on the drive, so that
// the operating system can read data discs without a reset.
void RestoreDataDensity(drive::DriveRecord& drive);

// Bit `bit` (0: least significant) of byte `byteIndex` of the CD capabilities mode page;
// false when neither MODE SENSE(6) nor MODE SENSE(10) delivered it.
[[nodiscard]] bool GetCapabilityBit(bool& value, std::int32_t bit, std::int32_t byteIndex,
                                    drive::DriveRecord& drive);

}  // namespace audio
