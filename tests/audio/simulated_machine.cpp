#include "tests/audio/simulated_machine.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "drive/drive_layer.h"
#include "simdrive/audio_source.h"

namespace audio_testing {
namespace {

simdrive::Direction ToSimulated(drive::DataDirection direction) {
    switch (direction) {
        case drive::DataDirection::in:
            return simdrive::Direction::in;
        case drive::DataDirection::out:
            return simdrive::Direction::out;
        case drive::DataDirection::none:
            break;
    }
    return simdrive::Direction::none;
}

}  // namespace

std::size_t SimulatedDevices::ListCdDevices(std::span<drive::native::CdDevice> devices) {
    const std::size_t count = std::min(devices.size(), drives_.Count());
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(devices[i].path.data(), devices[i].path.size(), "sim%zu", i);
    }
    return count;
}

drive::native::OpenResult SimulatedDevices::Open(const char* path) {
    drive::native::OpenResult result;
    result.handle = std::stoi(std::string(path).substr(3));
    return result;
}

std::optional<drive::native::ScsiAddress> SimulatedDevices::QueryAddress(
    drive::native::DeviceHandle device) {
    const simdrive::DriveSettings& settings =
        drives_.At(static_cast<std::size_t>(device)).Settings();
    return drive::native::ScsiAddress{settings.adapter, settings.target, settings.lun};
}

std::optional<drive::native::Capabilities> SimulatedDevices::QueryCapabilities(
    drive::native::DeviceHandle) {
    return drive::native::Capabilities{0x30000, 0};
}

drive::native::PassThroughReply SimulatedDevices::PassThrough(
    drive::native::DeviceHandle device, drive::native::PassThroughRequest& request) {
    SentCommand sent;
    sent.cdb.assign(request.cdb.begin(), request.cdb.begin() + request.cdbLength);
    sent.direction = request.direction;
    sent.length = request.length;
    if (request.direction == drive::DataDirection::out) {
        sent.dataOut.assign(request.data, request.data + request.length);
    }
    {
        std::lock_guard lock(logLock_);
        log_.push_back(sent);
    }
    simdrive::CommandResult result =
        drives_.At(static_cast<std::size_t>(device))
            .Execute(sent.cdb, ToSimulated(request.direction), {request.data, request.length},
                     std::span(request.sense).first(request.senseLength));
    if (tamper_) {
        tamper_(sent, result, {request.data, request.length});
    }
    return drive::native::PassThroughReply{result.host == simdrive::HostStatus::ok, result.status,
                                           request.length - result.transferred};
}

std::vector<SentCommand> SimulatedDevices::TakeLog() {
    std::lock_guard lock(logLock_);
    return std::exchange(log_, {});
}

SimulatedMachine::SimulatedMachine(const std::string& description, const std::string& wavOverride) {
    std::string error;
    simdrive::LoadOptions options;
    options.wavOverride = wavOverride;
    drives_ = simdrive::DriveSet::Parse(description, "", options, "test", error);
    if (!drives_) {
        ADD_FAILURE() << error;
        drives_.emplace();
    }
    devices_.emplace(*drives_);
    drive::DriveLayerOptions layer;
    layer.deviceOs = &*devices_;
    layer.aspiLibrary = "";
    layer.alternativeLibrary = "";
    drive::StartDriveLayer(layer);
    EXPECT_EQ(drive::SelectTransport(), drive::TransportKind::native);
    (void)drive::DiscoverDrives(driveCount_, drive::maxDrives, table_);
    drive::ResetDriveSettings(std::span(table_).first(static_cast<std::size_t>(driveCount_)));
    (void)devices_->TakeLog();
}

SimulatedMachine::~SimulatedMachine() {
    drive::StopDriveLayer();
}

drive::DriveRecord& SimulatedMachine::Record(std::int32_t index) {
    return table_.at(static_cast<std::size_t>(index));
}

simdrive::Drive& SimulatedMachine::Simulated(std::int32_t index) {
    const drive::DriveRecord& record = Record(index);
    simdrive::Drive* found = drives_->Find(static_cast<std::uint8_t>(record.adapter),
                                           static_cast<std::uint8_t>(record.target),
                                           static_cast<std::uint8_t>(record.lun));
    return *found;
}

std::string ShippedDescription(const std::string& name) {
    std::ifstream file(std::string(SIMDRIVE_DRIVES_DIR) + "/" + name);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

}  // namespace audio_testing

namespace audio_testing {

const std::string& SmallWavImage() {
    // One shared file for every test process: its content never changes, and death tests end
    // their process without clean-up, so a per-process file would be left behind.
    static const std::string path = [] {
        const std::string file = testing::TempDir() + "marrowby_audio_test_600_3.wav";
        if (!std::filesystem::exists(file)) {
            const std::string part = file + "." + std::to_string(getpid());
            simdrive::PatternSource source(600, 3);
            std::string error;
            if (!simdrive::WriteWavFile(part, source, error)) {
                ADD_FAILURE() << error;
            }
            std::filesystem::rename(part, file);  // atomic: parallel tests see all or nothing
        }
        return file;
    }();
    return path;
}

}  // namespace audio_testing
