#include "drive/discovery.h"

#include <algorithm>

#include "drive/aspi_contract.h"
#include "drive/aspi_proc.h"
#include "drive/inquiry.h"

namespace drive {
namespace {

constexpr std::int32_t fewestTargets = 8;

// The number of targets to scan on `adapter`, or 0 when the adapter does not answer.
std::int32_t AdapterTargets(std::uint8_t adapter) {
    aspi::SRB_HAInquiry inquiry{};
    inquiry.SRB_Cmd = aspi::commandHostAdapterInquiry;
    inquiry.SRB_HaId = adapter;
    if (TransportSend(&inquiry) != aspi::statusCompleted) {
        return 0;
    }
    return std::max<std::int32_t>(inquiry.HA_Unique[3], fewestTargets);
}

}  // namespace

std::int32_t DiscoverDrives(std::int32_t& count, std::int32_t capacity,
                            std::span<DriveRecord> table) {
    count = 0;
    std::int32_t result = 0;
    const std::int32_t room =
        std::min<std::int32_t>(capacity, static_cast<std::int32_t>(table.size()));
    const std::uint32_t support = TransportSupportInfo();
    if (aspi::SupportStatus(support) != aspi::statusCompleted) {
        return aspi::SupportStatus(support);
    }
    const std::uint8_t adapters = aspi::SupportAdapters(support);
    for (std::uint8_t adapter = 0; adapter < adapters; ++adapter) {
        const std::int32_t targets = AdapterTargets(adapter);
        for (std::int32_t target = 0; target < targets; ++target) {
            aspi::SRB_GDEVBlock device{};
            device.SRB_Cmd = aspi::commandGetDeviceType;
            device.SRB_HaId = adapter;
            device.SRB_Target = static_cast<std::uint8_t>(target);
            const std::uint32_t answer = TransportSend(&device);
            if (answer != aspi::statusCompleted) {
                result = static_cast<std::int32_t>((answer >> 8) & 0xFF);
                continue;
            }
            if (device.SRB_DeviceType != aspi::peripheralCdRom || count >= room) {
                continue;
            }
            DriveRecord& entry = table[static_cast<std::size_t>(count)];
            entry.adapter = adapter;
            entry.target = target;
            entry.lun = 0;
            InquiryResult inquiry;
            InquireDevice(inquiry, entry);
            if (!inquiry.ProductName().empty()) {
                ++count;
            }
        }
    }
    return result;
}

void ResetDriveSettings(std::span<DriveRecord> drives) {
    for (DriveRecord& drive : drives) {
        drive.rezeroAfterRead = false;
        drive.rawTocBcd = true;
    }
}

}  // namespace drive
