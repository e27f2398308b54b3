// The native command path's OS operations on Windows NT: the CD-ROM drive letters, opened as
// devices for overlapped I/O, and each command one IOCTL_SCSI_PASS_THROUGH_DIRECT.
#include <windows.h>

#include <ntddscsi.h>
#include <winioctl.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "drive/native_os.h"
#include "runtime/file_channel.h"

namespace drive::native {
namespace {

// The pass-through record travels with the caller's data address in a 32-bit field.
static_assert(sizeof(void*) == 4, "the pass-through block is laid out for 32-bit Windows");

static_assert(IOCTL_SCSI_PASS_THROUGH_DIRECT == 0x4D014);
static_assert(IOCTL_SCSI_GET_ADDRESS == 0x41018);
static_assert(IOCTL_SCSI_GET_CAPABILITIES == 0x41010);

// The pass-through block: the system's SCSI_PASS_THROUGH_DIRECT record, then the sense buffer.
namespace block {
constexpr std::size_t length = 0;      // 2 bytes: size of the record
constexpr std::size_t scsiStatus = 2;  // result
constexpr std::size_t cdbLength = 6;
constexpr std::size_t senseInfoLength = 7;
constexpr std::size_t dataIn = 8;               // 1: data in; 0: data out or none
constexpr std::size_t dataTransferLength = 12;  // 4 bytes
constexpr std::size_t timeOutValue = 16;        // 4 bytes, seconds
constexpr std::size_t dataBuffer = 20;          // 4 bytes, the caller's buffer
constexpr std::size_t senseInfoOffset = 24;     // 4 bytes
constexpr std::size_t cdb = 28;                 // 16 bytes
constexpr std::size_t recordSize = 44;
constexpr std::size_t sense = 48;  // 256 bytes
constexpr std::size_t size = 304;
}  // namespace block

static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, ScsiStatus) == block::scsiStatus);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, CdbLength) == block::cdbLength);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoLength) == block::senseInfoLength);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataIn) == block::dataIn);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataTransferLength) == block::dataTransferLength);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, TimeOutValue) == block::timeOutValue);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer) == block::dataBuffer);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoOffset) == block::senseInfoOffset);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, Cdb) == block::cdb);
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == block::recordSize);
static_assert(block::sense + senseBufferBytes == block::size);

// IO_SCSI_CAPABILITIES and SCSI_ADDRESS replies.
constexpr std::size_t capabilitiesSize = 24;
constexpr std::size_t capabilitiesMaximumTransferLength = 4;
constexpr std::size_t capabilitiesAlignmentMask = 16;
static_assert(sizeof(IO_SCSI_CAPABILITIES) == capabilitiesSize);
static_assert(offsetof(IO_SCSI_CAPABILITIES, MaximumTransferLength) ==
              capabilitiesMaximumTransferLength);
static_assert(offsetof(IO_SCSI_CAPABILITIES, AlignmentMask) == capabilitiesAlignmentMask);
constexpr std::size_t addressSize = 8;
constexpr std::size_t addressPort = 4;
constexpr std::size_t addressTarget = 6;
constexpr std::size_t addressLun = 7;
static_assert(sizeof(SCSI_ADDRESS) == addressSize);
static_assert(offsetof(SCSI_ADDRESS, PortNumber) == addressPort);
static_assert(offsetof(SCSI_ADDRESS, TargetId) == addressTarget);
static_assert(offsetof(SCSI_ADDRESS, Lun) == addressLun);

constexpr DWORD deviceFlags =
    FILE_FLAG_WRITE_THROUGH | FILE_FLAG_OVERLAPPED | FILE_FLAG_NO_BUFFERING;
static_assert(deviceFlags == 0xE0000000);
constexpr DWORD errorIoPending = ERROR_IO_PENDING;  // 997

void Store16(std::span<std::uint8_t> bytes, std::size_t at, std::uint16_t value) {
    bytes[at] = static_cast<std::uint8_t>(value);
    bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

void Store32(std::span<std::uint8_t> bytes, std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

std::uint32_t Load32(std::span<const std::uint8_t> bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value |= static_cast<std::uint32_t>(bytes[at + i]) << (8 * i);
    }
    return value;
}

HANDLE Handle(DeviceHandle device) {
    return reinterpret_cast<HANDLE>(device);
}

bool IsWindowsNt() {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;  // the 148-byte record
    return ::GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

// One overlapped control request, waited for; false when the system refused or failed it.
bool Control(HANDLE device, HANDLE event, DWORD code, void* in, DWORD inSize, void* out,
             DWORD outSize) {
    OVERLAPPED overlapped{};
    ::ResetEvent(event);
    overlapped.hEvent = event;
    ::SetLastError(NO_ERROR);
    DWORD returned = 0;
    ::DeviceIoControl(device, code, in, inSize, out, outSize, &returned, &overlapped);
    const DWORD error = ::GetLastError();
    ::SetLastError(NO_ERROR);
    if (error != NO_ERROR && error != errorIoPending) {
        return false;
    }
    return ::GetOverlappedResult(device, &overlapped, &returned, TRUE) != FALSE;
}

class WindowsDevices final : public DeviceOs {
public:
    // Manual-reset: the completion events of overlapped requests. One for the worker's
    // pass-through, one for the queries of start-up and discovery on the main thread.
    WindowsDevices()
        : passThroughEvent_(::CreateEventA(nullptr, TRUE, FALSE, nullptr)),
          queryEvent_(::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~WindowsDevices() override {
        ::CloseHandle(passThroughEvent_);
        ::CloseHandle(queryEvent_);
    }
    WindowsDevices(const WindowsDevices&) = delete;
    WindowsDevices& operator=(const WindowsDevices&) = delete;

    // The letters C to Z whose root is a CD-ROM drive; none outside the NT family.
    std::size_t ListCdDevices(std::span<CdDevice> devices) override {
        if (!IsWindowsNt()) {
            return 0;
        }
        std::size_t count = 0;
        for (char letter = 'C'; letter <= 'Z' && count < devices.size(); ++letter) {
            const std::array<char, 4> root{letter, ':', '\\', '\0'};
            if (::GetDriveTypeA(root.data()) != DRIVE_CDROM) {
                continue;
            }
            devices[count] = {};
            std::snprintf(devices[count].path.data(), devices[count].path.size(),
                          "\\\\.\\%c:", letter);
            ++count;
        }
        return count;
    }

    OpenResult Open(const char* path) override {
        OpenResult result;
        HANDLE device =
            ::CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          nullptr, OPEN_EXISTING, deviceFlags, nullptr);
        if (device == INVALID_HANDLE_VALUE) {
            result.access = Access::readOnly;
            device = ::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   deviceFlags, nullptr);
        }
        if (device == INVALID_HANDLE_VALUE) {
            result.error = static_cast<int>(::GetLastError());
            return result;
        }
        result.handle = reinterpret_cast<DeviceHandle>(device);
        return result;
    }

    std::optional<ScsiAddress> QueryAddress(DeviceHandle device) override {
        std::array<std::uint8_t, addressSize> reply{};
        Store32(reply, 0, addressSize);
        if (!Control(Handle(device), queryEvent_, IOCTL_SCSI_GET_ADDRESS, nullptr, 0, reply.data(),
                     reply.size())) {
            return std::nullopt;
        }
        ScsiAddress address;
        address.adapter = reply[addressPort];
        address.target = reply[addressTarget];
        address.lun = reply[addressLun];
        return address;
    }

    // A failed query leaves the reply zero: no alignment, no stated transfer limit.
    std::optional<Capabilities> QueryCapabilities(DeviceHandle device) override {
        std::array<std::uint8_t, capabilitiesSize> reply{};
        Store32(reply, 0, capabilitiesSize);
        (void)Control(Handle(device), queryEvent_, IOCTL_SCSI_GET_CAPABILITIES, nullptr, 0,
                      reply.data(), reply.size());
        Capabilities capabilities;
        capabilities.maximumTransferLength = Load32(reply, capabilitiesMaximumTransferLength);
        capabilities.alignmentMask = Load32(reply, capabilitiesAlignmentMask);
        return capabilities;
    }

    // The storage adapter's bus type; a failed query (older systems, some emulations) is unknown.
    Bus QueryBus(DeviceHandle device) override {
        STORAGE_PROPERTY_QUERY query{};
        query.PropertyId = StorageAdapterProperty;
        query.QueryType = PropertyStandardQuery;
        STORAGE_ADAPTER_DESCRIPTOR adapter{};
        if (!Control(Handle(device), queryEvent_, IOCTL_STORAGE_QUERY_PROPERTY, &query,
                     sizeof query, &adapter, sizeof adapter) ||
            adapter.Size < offsetof(STORAGE_ADAPTER_DESCRIPTOR, BusType) + 1) {
            return Bus::unknown;
        }
        switch (adapter.BusType) {
            case BusTypeUsb:
                return Bus::usb;
            case BusTypeAta:
            case BusTypeAtapi:
            case BusTypeSata:
                return Bus::ata;
            case BusTypeScsi:
            case BusTypeSas:
            case BusTypeFibre:
            case BusTypeiScsi:
                return Bus::scsi;
            default:
                return Bus::unknown;
        }
    }

    PassThroughReply PassThrough(DeviceHandle device, PassThroughRequest& request) override {
        std::array<std::uint8_t, block::size> bytes{};
        Store16(bytes, block::length, block::recordSize);
        bytes[block::cdbLength] = request.cdbLength;
        bytes[block::senseInfoLength] = request.senseLength;
        bytes[block::dataIn] = request.direction == DataDirection::in ? 1 : 0;
        Store32(bytes, block::dataTransferLength, request.length);
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(request.timeout);
        Store32(bytes, block::timeOutValue, static_cast<std::uint32_t>(seconds.count()));
        Store32(bytes, block::dataBuffer,
                static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(request.data)));
        Store32(bytes, block::senseInfoOffset, block::sense);
        std::copy_n(request.cdb.begin(), std::min<std::size_t>(request.cdbLength, 16),
                    bytes.begin() + block::cdb);

        PassThroughReply reply;
        if (!Control(Handle(device), passThroughEvent_, IOCTL_SCSI_PASS_THROUGH_DIRECT,
                     bytes.data(), bytes.size(), bytes.data(), bytes.size())) {
            return reply;
        }
        reply.delivered = true;
        reply.scsiStatus = bytes[block::scsiStatus];
        // The system puts the bytes really moved into DataTransferLength.
        const std::uint32_t moved = Load32(bytes, block::dataTransferLength);
        reply.residual = moved < request.length ? request.length - moved : 0;
        std::copy_n(bytes.begin() + block::sense, request.sense.size(), request.sense.begin());
        return reply;
    }

    void Close(DeviceHandle device) override { ::CloseHandle(Handle(device)); }

    void ReportOpenFailure(const char* path, int error) override {
        const std::string_view reason = runtime::OsErrorText(error);
        std::fprintf(stderr, "Cannot open the CD drive %s: %.*s\n", path,
                     static_cast<int>(reason.size()), reason.data());
    }

    void ReportReadOnly(const char* path) override {
        std::fprintf(stderr,
                     "The CD drive %s could be opened for reading only; it may refuse some read "
                     "commands.\n",
                     path);
    }

private:
    HANDLE passThroughEvent_;
    HANDLE queryEvent_;
};

}  // namespace

DeviceOs& PlatformDeviceOs() {
    static WindowsDevices devices;
    return devices;
}

}  // namespace drive::native
