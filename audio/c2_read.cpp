#include "audio/c2_read.h"

#include <array>
#include <optional>

#include "audio/commands.h"
#include "audio/drive_command.h"
#include "drive/aspi_proc.h"
#include "drive/inquiry.h"
#include "drive/manners.h"
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

void SelectDensity(const drive::DriveRecord& drive,
                   const std::array<std::uint8_t, densityListBytes>& list) {
    const CommandBlock block = DensitySelectCommand();
    (void)RunWithoutReply(
        drive, DriveCommand(block, drive::DataDirection::out, densityListBytes, 16, list));
}

void RezeroUnit(const drive::DriveRecord& drive) {
    const CommandBlock block = RezeroUnitCommand();
    (void)RunWithoutReply(drive, DriveCommand(block, drive::DataDirection::none, 0, 0));
}

// Asks for the capabilities page with MODE SENSE(6), then (10) when that fails, and decodes
// the reply with decode(reply, tenByte).
template <typename Decode>
auto SenseCapabilities(const drive::DriveRecord& drive, Decode&& decode) {
    decltype(decode(std::span<const std::byte>{}, false)) value;
    const auto sense = [&](const CommandBlock& block, std::uint32_t replyBytes) {
        (void)drive::CommandCycle(
            drive, ReplyCommand(block, replyBytes),
            [&](const drive::CommandResult& answer, std::span<const std::uint8_t> reply) {
                if (answer.Succeeded()) {
                    value = decode(std::as_bytes(reply), block.length == 10);
                }
            });
    };
    sense(CapabilitiesSense6Command(), modeSense6ReplyBytes);
    if (!value) {
        sense(CapabilitiesSense10Command(), modeSense10ReplyBytes);
    }
    return value;
}

// One read in the drive's c2Method (not negative), split whatever its outcome: a failed read's
// sectors come out as the zeros (or the part) it left.
drive::CommandResult RunC2Read(std::span<std::byte> c2Buffer, std::span<std::byte> audioBuffer,
                               std::int32_t count, std::int64_t sector, drive::DriveRecord& drive) {
    const std::int32_t method = drive.c2Method;
    if (method == c2DensitySwitch) {
        PrepareReadC2(drive);
    }
    const auto sectors = static_cast<std::uint32_t>(count);
    const CommandBlock block = C2ReadCommand(method, sector, static_cast<std::uint8_t>(count));
    const drive::ScsiCommand command =
        DriveCommand(block, drive::DataDirection::in,
                     sectors * static_cast<std::uint32_t>(WireFormOf(method).blockBytes),
                     sectors * static_cast<std::uint32_t>(largestBlockBytes));
    const drive::CommandResult result = drive::CommandCycle(
        drive, command, [&](const drive::CommandResult&, std::span<const std::uint8_t> wire) {
            SplitC2Transfer(method, std::as_bytes(wire), count, c2Buffer, audioBuffer);
        });
    if (drive.rezeroAfterRead) {
        RezeroUnit(drive);
    }
    return result;
}

// After a medium error at the first probe: 2 seconds, 20 seconds and 3 minutes 20 seconds on.
constexpr std::array<std::int64_t, 3> laterProbeDistances{150, 1'500, 15'000};

enum class Probe { passed, refused, unreadable };

Probe ProbeOnce(std::int64_t sector, drive::DriveRecord& drive) {
    detectionC2.fill(std::byte{0});
    detectionAudio.fill(std::byte{0});
    const drive::CommandResult result =
        ReadAudioC2Answer(detectionC2, detectionAudio, 1, sector, drive);
    if (result.SucceededInFull()) {
        return Probe::passed;
    }
    return result.MediumError() ? Probe::unreadable : Probe::refused;
}

// A drive that takes the form but cannot read the disc at `sector` says so with a medium
// error; the form is tried further on before it is given up.
Probe TryC2Method(std::int32_t method, std::int32_t sector, drive::DriveRecord& drive) {
    drive.c2Method = method;
    Probe probe = ProbeOnce(sector, drive);
    for (std::size_t i = 0; probe == Probe::unreadable && i < laterProbeDistances.size(); ++i) {
        if (ProbeOnce(sector + laterProbeDistances[i], drive) == Probe::passed) {
            probe = Probe::passed;
        }
    }
    if (probe != Probe::passed) {
        drive.c2Method = noC2Method;
    }
    return probe;
}

bool SupportsC2Pointers(drive::DriveRecord& drive) {
    bool supported = false;
    return GetCapabilityBit(supported, c2PointerBit, c2PointerByte, drive) && supported;
}

}  // namespace

bool ReadAudioC2(std::span<std::byte> c2Buffer, std::span<std::byte> audioBuffer,
                 std::int32_t count, std::int64_t sector, drive::DriveRecord& drive) {
    // A drive that answers GOOD with fewer bytes than asked has not read the sectors.
    return ReadAudioC2Answer(c2Buffer, audioBuffer, count, sector, drive).SucceededInFull();
}

drive::CommandResult ReadAudioC2Answer(std::span<std::byte> c2Buffer,
                                       std::span<std::byte> audioBuffer, std::int32_t count,
                                       std::int64_t sector, drive::DriveRecord& drive) {
    CheckRoomFor(count, c2Buffer, audioBuffer);
    if (drive.c2Method < 0) {
        drive::CommandResult noForm;
        noForm.status = aspi::statusInvalidRequest;
        return noForm;
    }
    // A drive that paused or reported a change is asked again; each answer is split anew, so
    // the buffers hold the last one only.
    drive::Patience patience(drive::readUnitAttentions, !drive.waitedInVain);
    drive::CommandResult answer;
    do {
        answer = RunC2Read(c2Buffer, audioBuffer, count, sector, drive);
    } while (patience.SendAgain(answer));
    drive.waitedInVain = patience.End() == drive::PatienceEnd::neverReady;
    answer.elapsed = patience.CommandTime();
    return answer;
}

C2Search FindC2Mode(std::int32_t sector, drive::DriveRecord& drive) {
    drive.c2Method = noC2Method;
    drive::InquiryResult inquiry;
    drive::InquireDevice(inquiry, drive);
    bool unreadable = false;
    const auto tried = [&](std::int32_t method) {
        const Probe probe = TryC2Method(method, sector, drive);
        unreadable = unreadable || probe == Probe::unreadable;
        return probe == Probe::passed;
    };
    if (HasC2WithoutBlockErrorName(inquiry.ProductName())) {
        // These drives report C2 support but fail the read that adds the block error byte.
        if (tried(c2ReadCd)) {
            return C2Search::found;
        }
    } else if (SupportsC2Pointers(drive) && tried(c2ReadCdWithBlockError)) {
        return C2Search::found;
    }
    if (tried(c2VendorD8)) {
        return C2Search::found;
    }
    // The switch goes first here, and the READ(10) form sends it again: two before the probe.
    PrepareReadC2(drive);
    if (tried(c2DensitySwitch)) {
        return C2Search::found;
    }
    drive.c2Method = noC2Method;
    return unreadable ? C2Search::unreadable : C2Search::noForm;
}

C2FormsFound FindEveryC2Form(std::int32_t sector, drive::DriveRecord& drive) {
    C2FormsFound found;
    for (const std::int32_t method :
         {c2ReadCdWithBlockError, c2VendorD8, c2DensitySwitch, c2ReadCd}) {
        if (method == c2DensitySwitch) {
            PrepareReadC2(drive);
        }
        const Probe probe = TryC2Method(method, sector, drive);
        found.byMethod[static_cast<std::size_t>(method)] = probe == Probe::passed;
        found.unreadable = found.unreadable || probe == Probe::unreadable;
        // The forms after it read with READ CD, which a drive left at 2,646-byte blocks may
        // refuse.
        RestoreDataDensity(drive);
    }
    drive.c2Method = noC2Method;
    return found;
}

bool SetReadSpeed(std::uint16_t readKBps, drive::DriveRecord& drive) {
    return RunWithoutReply(
               drive, DriveCommand(SetCdSpeedCommand(readKBps), drive::DataDirection::none, 0, 0))
        .Succeeded();
}

std::optional<std::uint16_t> CurrentReadSpeed(drive::DriveRecord& drive) {
    return SenseCapabilities(drive, [](std::span<const std::byte> reply, bool tenByte) {
        return CapabilityWord(reply, tenByte, currentReadSpeedByte);
    });
}

bool DetectC2Mode(std::int32_t sector, drive::DriveRecord& drive) {
    return FindC2Mode(sector, drive) == C2Search::found;
}

void PrepareReadC2(drive::DriveRecord& drive) {
    drive.densitySwitched = true;
    SelectDensity(drive, C2DensityParameterList());
}

void RestoreDataDensity(drive::DriveRecord& drive) {
    if (drive.densitySwitched) {
        SelectDensity(drive, DataDensityParameterList());
        drive.densitySwitched = false;
    }
}

bool GetCapabilityBit(bool& value, std::int32_t bit, std::int32_t byteIndex,
                      drive::DriveRecord& drive) {
    const std::optional<bool> found =
        SenseCapabilities(drive, [&](std::span<const std::byte> reply, bool tenByte) {
            return tenByte ? CapabilityBitOfSense10(reply, bit, byteIndex)
                           : CapabilityBitOfSense6(reply, bit, byteIndex);
        });
    if (!found) {
        return false;
    }
    value = *found;
    return true;
}

}  // namespace audio
