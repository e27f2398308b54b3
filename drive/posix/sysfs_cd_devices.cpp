#include "drive/posix/sysfs_cd_devices.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <string_view>

namespace drive::native {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t largestByte = 255;

// "host:channel:target:lun" of a sysfs SCSI device entry.
bool ParseAddress(const std::string& name, HostChannelTargetLun& hctl) {
    const char* at = name.data();
    const char* end = at + name.size();
    for (std::size_t i = 0; i < hctl.size(); ++i) {
        const auto [next, error] = std::from_chars(at, end, hctl[i]);
        if (error != std::errc{} || (i < 3 && (next == end || *next != ':'))) {
            return false;
        }
        at = i < 3 ? next + 1 : next;
    }
    return at == end;
}

bool IsCdDevice(const fs::path& entry) {
    std::ifstream typeFile(entry / "type");
    int type = -1;
    return static_cast<bool>(typeFile >> type) && type == 5;
}

// The first node named in a device's sub-folder ("scsi_generic" or "block").
std::string NodeIn(const fs::path& folder) {
    std::error_code error;
    for (const auto& node : fs::directory_iterator(folder, error)) {
        return "/dev/" + node.path().filename().string();
    }
    return {};
}

// The generic node takes every command; the block node's filter lets only a few through.
std::string PreferredNode(const fs::path& entry) {
    std::string node = NodeIn(entry / "scsi_generic");
    return node.empty() ? NodeIn(entry / "block") : node;
}

// "usb2" for prefix "usb": the prefix, then digits only.
bool NumberedFolder(const std::string& name, std::string_view prefix) {
    return name.size() > prefix.size() && name.starts_with(prefix) &&
           std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                       [](char c) { return c >= '0' && c <= '9'; });
}

Bus ResolvedBus(const fs::path& entry) {
    std::error_code error;
    const fs::path resolved = fs::canonical(entry, error);
    return error ? Bus::unknown : BusOfDevicePath(resolved);
}

}  // namespace

Bus BusOfDevicePath(const fs::path& resolvedEntry) {
    bool ata = false;
    bool host = false;
    for (const fs::path& part : resolvedEntry) {
        const std::string name = part.string();
        if (NumberedFolder(name, "usb")) {
            return Bus::usb;  // a USB bridge to an ATA drive is still USB
        }
        ata = ata || NumberedFolder(name, "ata");
        host = host || NumberedFolder(name, "host");
    }
    return ata ? Bus::ata : host ? Bus::scsi : Bus::unknown;
}

void AssignAddresses(std::span<SysfsCdDevice> devices) {
    std::int32_t adapter = -1;
    const SysfsCdDevice* previous = nullptr;
    for (SysfsCdDevice& device : devices) {
        const bool sameBus = previous != nullptr && previous->hctl[0] == device.hctl[0] &&
                             previous->hctl[1] == device.hctl[1];
        if (!sameBus) {
            ++adapter;
        }
        previous = &device;
        const std::uint64_t target = device.hctl[2];
        const std::uint64_t lun = device.hctl[3];
        if (target <= largestByte && lun <= largestByte) {
            device.address = ScsiAddress{adapter, static_cast<std::int32_t>(target),
                                         static_cast<std::int32_t>(lun)};
        } else {
            device.address.reset();
        }
    }
}

std::vector<SysfsCdDevice> ListSysfsCdDevices(const fs::path& devicesFolder) {
    std::vector<SysfsCdDevice> found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(devicesFolder, error)) {
        SysfsCdDevice device;
        if (!ParseAddress(entry.path().filename().string(), device.hctl) ||
            !IsCdDevice(entry.path())) {
            continue;
        }
        device.node = PreferredNode(entry.path());
        device.bus = ResolvedBus(entry.path());
        if (!device.node.empty()) {
            found.push_back(std::move(device));
        }
    }
    std::sort(found.begin(), found.end(),
              [](const SysfsCdDevice& a, const SysfsCdDevice& b) { return a.hctl < b.hctl; });
    AssignAddresses(found);
    return found;
}

}  // namespace drive::native
