#include "tests/drive/simulated_devices.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace drive_tests {

using namespace drive::native;

namespace {
constexpr DeviceHandle firstHandle = 1000;
}

SimulatedDevice& SimulatedDevices::At(DeviceHandle device) {
    return devices.at(static_cast<std::size_t>(device - firstHandle));
}

std::size_t SimulatedDevices::ListCdDevices(std::span<CdDevice> list) {
    const std::size_t count = std::min(list.size(), devices.size());
    for (std::size_t i = 0; i < count; ++i) {
        list[i] = {};
        std::memcpy(list[i].path.data(), devices[i].path.data(),
                    std::min(devices[i].path.size(), list[i].path.size() - 1));
    }
    return count;
}

OpenResult SimulatedDevices::Open(const char* path) {
    const auto found = std::find_if(devices.begin(), devices.end(),
                                    [&](const SimulatedDevice& d) { return d.path == path; });
    OpenResult result;
    if (found == devices.end() || !found->openable) {
        result.error = EACCES;
        return result;
    }
    opened.emplace_back(path);
    ++openHandles;
    result.handle = firstHandle + (found - devices.begin());
    result.access = found->readOnly ? Access::readOnly : Access::readWrite;
    return result;
}

std::optional<ScsiAddress> SimulatedDevices::QueryAddress(DeviceHandle device) {
    return At(device).address;
}

std::optional<Capabilities> SimulatedDevices::QueryCapabilities(DeviceHandle device) {
    return At(device).capabilities;
}

drive::native::Bus SimulatedDevices::QueryBus(DeviceHandle device) {
    return At(device).bus;
}

PassThroughReply SimulatedDevices::PassThrough(DeviceHandle device, PassThroughRequest& request) {
    ++passThroughs;
    SimulatedDevice& simulated = At(device);
    if (simulated.passThroughFails) {
        return {};
    }
    if (simulated.forcedStatus.has_value()) {
        return {true, *simulated.forcedStatus};
    }
    const simdrive::Direction direction = request.direction == drive::DataDirection::in
                                              ? simdrive::Direction::in
                                          : request.length > 0 ? simdrive::Direction::out
                                                               : simdrive::Direction::none;
    const simdrive::CommandResult result =
        simulated.drive->Execute(std::span(request.cdb).first(request.cdbLength), direction,
                                 std::span(request.data, request.length),
                                 std::span(request.sense).first(request.senseLength));
    if (result.host != simdrive::HostStatus::ok) {
        return {};
    }
    return {true, result.status, request.length - result.transferred};
}

void SimulatedDevices::Close(DeviceHandle) {
    --openHandles;
}

void SimulatedDevices::ReportOpenFailure(const char* path, int error) {
    reports.push_back(std::string("cannot open ") + path + ": " + std::strerror(error));
}

void SimulatedDevices::ReportReadOnly(const char* path) {
    reports.push_back(std::string("read-only ") + path);
}

}  // namespace drive_tests
