// The native path's OS seam over simulated drives: devices that list, open, answer address and
// capability queries and carry commands as the test sets them up.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "drive/native_os.h"
#include "simdrive/drive.h"

namespace drive_tests {

struct SimulatedDevice {
    std::string path;
    simdrive::Drive* drive = nullptr;
    std::optional<drive::native::ScsiAddress> address;  // none: the address query fails
    bool openable = true;
    bool readOnly = false;
    std::optional<drive::native::Capabilities> capabilities = drive::native::Capabilities{};
    std::optional<std::uint8_t> forcedStatus;  // the target answers every command with this
    bool passThroughFails = false;             // the OS rejects every command
    drive::native::Bus bus = drive::native::Bus::unknown;
};

class SimulatedDevices final : public drive::native::DeviceOs {
public:
    std::vector<SimulatedDevice> devices;
    std::vector<std::string> reports;  // what the user was told
    std::vector<std::string> opened;   // paths, in the order they were opened
    int openHandles = 0;
    int passThroughs = 0;

    std::size_t ListCdDevices(std::span<drive::native::CdDevice> list) override;
    drive::native::OpenResult Open(const char* path) override;
    std::optional<drive::native::ScsiAddress> QueryAddress(
        drive::native::DeviceHandle device) override;
    std::optional<drive::native::Capabilities> QueryCapabilities(
        drive::native::DeviceHandle device) override;
    drive::native::Bus QueryBus(drive::native::DeviceHandle device) override;
    drive::native::PassThroughReply PassThrough(
        drive::native::DeviceHandle device, drive::native::PassThroughRequest& request) override;
    void Close(drive::native::DeviceHandle device) override;
    void ReportOpenFailure(const char* path, int error) override;
    void ReportReadOnly(const char* path) override;

private:
    SimulatedDevice& At(drive::native::DeviceHandle device);
};

}  // namespace drive_tests
