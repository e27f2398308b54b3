#include "audio/c2_read.h"

#include <array>
#include <optional>

#include "audio/commands.h"
#include "audio/drive_command.h"
#include "drive/aspi_proc.h"
#include "drive/inquiry.h"
#include "runtime/error.h"

namespace audio {
namespace {

constexpr std::int32_t noC2Method = -1;
constexpr std::int32_t c2PointerBit = 4;  // capabilities page byte 5: C2 pointers supported
constexpr std::int32_t c2PointerByte = 5;
constexpr std::size_t largestBlockBytes = audioBytesPerSector + c2PointerBytes + 2;

// Detection reads one sector here; the content is never examined.
std::array<std::byte, 4'704> detectionC2;
std::array<std::byte, 4'704> detectionAudio;

void CheckRoomFor(std::int32_t count, std::span<std::byte> c2Buffer,
                  std::span<std::byte> audioBuffer) {
    runtime::CheckRange(count >= 0 && count <= maxC2ReadSectors);
    if (count > 0) {
        const auto sectors = static_cast<std::size_t>(count);
        runtime::CheckIndex(sectors * c2RecordBytes - 1, c2Buffer.size());
        runtime::CheckIndex(sectors * audioBytesPerSector - 1, audioBuffer.size());
    }
}

void RezeroUnit(const drive::DriveRecord& drive) {
    const CommandBlock block = RezeroUnitCommand();
    (void)RunWithoutReply(drive, DriveCommand(block, drive::DataDirection::none, 0, 0));
}

std::optional<bool> SenseCapabilityBit(const drive::DriveRecord& drive, const CommandBlock& block,
                                       std::uint32_t replyBytes, std::int32_t bit,
                                       std::int32_t byteIndex) {
    std::optional<bool> value;
    const bool tenByte = block.length == 10;
    (void)drive::CommandCycle(
        drive, ReplyCommand(block, replyBytes),
        [&](const drive::CommandResult& answer, std::span<const std::uint8_t> reply) {
            if (answer.Succeeded()) {
                value = tenByte ? CapabilityBitOfSense10(std::as_bytes(reply), bit, byteIndex)
                                : CapabilityBitOfSense6(std::as_bytes(reply), bit, byteIndex);
            }
        });
    return value;
}

bool TryC2Method(std::int32_t method, std::int32_t sector, drive::DriveRecord& drive) {
    detectionC2.fill(std::byte{0});
    detectionAudio.fill(std::byte{0});
    drive.c2Method = method;
    const bool read = ReadAudioC2(detectionC2, detectionAudio, 1, sector, drive);
    if (!read) {
        drive.c2Method = noC2Method;
    }
    return read;
}

bool SupportsC2Pointers(drive::DriveRecord& drive) {
    bool supported = false;
    return GetCapabilityBit(supported, c2PointerBit, c2PointerByte, drive) && supported;
}

}  // namespace

bool ReadAudioC2(std::span<std::byte> c2Buffer, std::span<std::byte> audioBuffer,
                 std::int32_t count, std::int64_t sector, drive::DriveRecord& drive) {
    CheckRoomFor(count, c2Buffer, audioBuffer);
    const std::int32_t method = drive.c2Method;
    if (method < 0) {
        return false;
    }
    if (method == c2DensitySwitch) {
        PrepareReadC2(drive);
    }
    const auto sectors = static_cast<std::uint32_t>(count);
    const CommandBlock block = C2ReadCommand(method, sector, static_cast<std::uint8_t>(count));
    const drive::ScsiCommand command =
        DriveCommand(block, drive::DataDirection::in,
                     sectors * static_cast<std::uint32_t>(WireFormOf(method).blockBytes),
                     sectors * static_cast<std::uint32_t>(largestBlockBytes));
    // A failed read is split too: its sectors come out as the zeros (or the part) it left.
    const drive::CommandResult result = drive::CommandCycle(
        drive, command, [&](const drive::CommandResult&, std::span<const std::uint8_t> wire) {
            SplitC2Transfer(method, std::as_bytes(wire), count, c2Buffer, audioBuffer);
        });
    if (drive.rezeroAfterRead) {
        RezeroUnit(drive);
    }
    // A drive that answers GOOD with fewer bytes than asked has not read the sectors.
    return result.SucceededInFull();
}

bool DetectC2Mode(std::int32_t sector, drive::DriveRecord& drive) {
    drive.c2Method = noC2Method;
    drive::InquiryResult inquiry;
    drive::InquireDevice(inquiry, drive);
    if (HasC2WithoutBlockErrorName(inquiry.ProductName())) {
        // These drives report C2 support but fail the read that adds the block error byte.
        if (TryC2Method(c2ReadCd, sector, drive)) {
            return true;
        }
    } else if (SupportsC2Pointers(drive) && TryC2Method(c2ReadCdWithBlockError, sector, drive)) {
        return true;
    }
    // ReadAudioC2 sends the density switch itself before the READ(10) form.
    if (TryC2Method(c2VendorD8, sector, drive) || TryC2Method(c2DensitySwitch, sector, drive)) {
        return true;
    }
    drive.c2Method = noC2Method;
    return false;
}

void PrepareReadC2(drive::DriveRecord& drive) {
    const CommandBlock block = C2DensitySelectCommand();
    const auto list = C2DensityParameterList();
    (void)RunWithoutReply(
        drive, DriveCommand(block, drive::DataDirection::out, c2DensityListBytes, 16, list));
}

bool GetCapabilityBit(bool& value, std::int32_t bit, std::int32_t byteIndex,
                      drive::DriveRecord& drive) {
    std::optional<bool> found = SenseCapabilityBit(drive, CapabilitiesSense6Command(),
                                                   modeSense6ReplyBytes, bit, byteIndex);
    if (!found) {
        found = SenseCapabilityBit(drive, CapabilitiesSense10Command(), modeSense10ReplyBytes, bit,
                                   byteIndex);
    }
    if (!found) {
        return false;
    }
    value = *found;
    return true;
}

}  // namespace audio
