// The operating system's few operations under the native command path: list the CD devices,
// open one, ask its SCSI address and capabilities, pass one command through, close. Linux
// SG_IO now, the Windows pass-through later, simulated devices in tests.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>

#include "drive/data_direction.h"

namespace drive::native {

using DeviceHandle = std::intptr_t;
inline constexpr DeviceHandle invalidDevice = -1;

struct CdDevice {
    std::array<char, 64> path{};  // NUL-terminated
};

struct ScsiAddress {
    std::int32_t adapter = -1;
    std::int32_t target = -1;
    std::int32_t lun = 0;
};

struct Capabilities {
    std::uint32_t maximumTransferLength = 0;
    std::uint32_t alignmentMask = 0;
};

enum class Access : std::uint8_t { readWrite, readOnly };

// The bus between the computer and the drive: a USB enclosure's bridge translates commands and
// may answer some itself, so a drive behind one is not measured as the same drive on ATA.
enum class Bus : std::uint8_t { unknown, usb, ata, scsi };

[[nodiscard]] constexpr const char* BusName(Bus bus) {
    switch (bus) {
        case Bus::usb:
            return "usb";
        case Bus::ata:
            return "ata";
        case Bus::scsi:
            return "scsi";
        default:
            return "unknown";
    }
}

struct OpenResult {
    DeviceHandle handle = invalidDevice;
    Access access = Access::readWrite;
    int error = 0;  // the OS's error number when the handle is invalid
};

inline constexpr std::size_t senseBufferBytes = 256;

// One command as the OS carries it. The data moves directly to or from `data`.
struct PassThroughRequest {
    std::array<std::uint8_t, 16> cdb{};
    std::uint8_t cdbLength = 0;
    DataDirection direction = DataDirection::none;
    std::uint8_t* data = nullptr;
    std::uint32_t length = 0;
    std::uint8_t senseLength = 0;  // sense bytes asked for
    std::array<std::uint8_t, senseBufferBytes> sense{};
    std::chrono::milliseconds timeout{0};
};

struct PassThroughReply {
    bool delivered = false;       // the command reached the target and its status came back
    std::uint8_t scsiStatus = 0;  // the target's status byte (0x02: check condition)
    // Data bytes that did not move (the request's length minus those transferred). A drive may
    // answer GOOD and still move less than it was asked for.
    std::uint32_t residual = 0;
};

class DeviceOs {
public:
    virtual ~DeviceOs() = default;

    // The CD devices in the order of their SCSI addresses; returns how many were filled.
    virtual std::size_t ListCdDevices(std::span<CdDevice> devices) = 0;
    // Opens for reading and writing, else for reading only.
    virtual OpenResult Open(const char* path) = 0;
    virtual std::optional<ScsiAddress> QueryAddress(DeviceHandle device) = 0;
    virtual std::optional<Capabilities> QueryCapabilities(DeviceHandle device) = 0;
    virtual Bus QueryBus(DeviceHandle /*device*/) { return Bus::unknown; }
    virtual PassThroughReply PassThrough(DeviceHandle device, PassThroughRequest& request) = 0;
    virtual void Close(DeviceHandle device) = 0;
    // Tells the user, on the error channel, why a CD device is out of reach or limited.
    virtual void ReportOpenFailure(const char* path, int error) = 0;
    virtual void ReportReadOnly(const char* path) = 0;
};

// The running platform's devices.
[[nodiscard]] DeviceOs& PlatformDeviceOs();

}  // namespace drive::native
