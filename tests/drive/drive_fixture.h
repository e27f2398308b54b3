// Simulated drives for the drive layer's tests, and the layer started over them.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "drive/drive_layer.h"
#include "simdrive/description.h"
#include "tests/drive/simulated_devices.h"

namespace drive_tests {

inline std::unique_ptr<simdrive::Drive> MakeDrive(const std::string& product, bool withDisc = true,
                                                  const std::string& vendor = "SIMDRIVE") {
    simdrive::DriveSettings settings;
    settings.vendor = vendor;
    settings.product = product;
    return std::make_unique<simdrive::Drive>(
        settings, withDisc ? simdrive::MakePatternDisc(3000, 1) : nullptr);
}

// Runs the layer over simulated native devices only; no manager library is loaded.
class NativeLayerTest : public testing::Test {
protected:
    void TearDown() override { drive::StopDriveLayer(); }

    // Adds a device at `address` (none: its address query fails) backed by a new drive.
    SimulatedDevice& AddDevice(std::optional<drive::native::ScsiAddress> address,
                               const std::string& product = "CD-ROM", bool withDisc = true) {
        drives_.push_back(MakeDrive(product, withDisc));
        SimulatedDevice device;
        device.path = "/dev/sim" + std::to_string(os_.devices.size());
        device.drive = drives_.back().get();
        device.address = address;
        os_.devices.push_back(device);
        return os_.devices.back();
    }

    drive::TransportKind Start() {
        drive::DriveLayerOptions options;
        options.deviceOs = &os_;
        options.aspiLibrary = "";
        options.alternativeLibrary = "";
        drive::StartDriveLayer(options);
        return drive::SelectTransport();
    }

    std::vector<drive::DriveRecord> Discover() {
        std::vector<drive::DriveRecord> table(drive::maxDrives);
        std::int32_t count = -1;
        (void)drive::DiscoverDrives(count, drive::maxDrives, table);
        table.resize(static_cast<std::size_t>(count));
        return table;
    }

    SimulatedDevices os_;
    std::vector<std::unique_ptr<simdrive::Drive>> drives_;
};

inline drive::native::ScsiAddress At(std::int32_t adapter, std::int32_t target,
                                     std::int32_t lun = 0) {
    return {adapter, target, lun};
}

// (adapter, target) of each record, for comparing tables.
inline std::vector<std::pair<std::int32_t, std::int32_t>> Addresses(
    const std::vector<drive::DriveRecord>& table) {
    std::vector<std::pair<std::int32_t, std::int32_t>> addresses;
    for (const auto& record : table) {
        addresses.emplace_back(record.adapter, record.target);
    }
    return addresses;
}

}  // namespace drive_tests
