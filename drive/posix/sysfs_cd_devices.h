// The CD devices the Linux kernel lists in sysfs, each with the address the drive layer gives
// it. Plain file reads only, so tests can point it at a tree of their own.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "drive/native_os.h"

namespace drive::native {

using HostChannelTargetLun = std::array<std::uint64_t, 4>;

struct SysfsCdDevice {
    std::string node;  // "/dev/sgN", or "/dev/srN" without the generic driver
    HostChannelTargetLun hctl{};
    std::optional<ScsiAddress> address;  // none: the layer numbers it like an unknown one
    Bus bus = Bus::unknown;
};

// The bus of a SCSI device from the folders its sysfs entry really lives in: a USB host's
// ("usbN") before all, an ATA port's ("ataN"), else a SCSI host's ("hostN").
[[nodiscard]] Bus BusOfDevicePath(const std::filesystem::path& resolvedEntry);

// Addresses that a request block can carry and that no two devices share: each (host,
// channel) pair becomes an adapter, numbered from 0 in the order the pairs come; target and
// LUN stay as they are when they fit a byte. `devices` must be in address order.
void AssignAddresses(std::span<SysfsCdDevice> devices);

// The CD-ROM devices (type 5) under `devicesFolder` (normally /sys/bus/scsi/devices) that
// have a node, in address order, with their addresses assigned.
[[nodiscard]] std::vector<SysfsCdDevice> ListSysfsCdDevices(
    const std::filesystem::path& devicesFolder);

}  // namespace drive::native
