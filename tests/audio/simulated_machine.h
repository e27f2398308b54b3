// A machine whose CD drives are simulated: the drive layer runs unchanged over the native
// path, whose OS seam here hands every command to a simulated drive and keeps a log of them.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "drive/drive_record.h"
#include "drive/native_os.h"
#include "simdrive/description.h"

namespace audio_testing {

struct SentCommand {
    std::vector<std::uint8_t> cdb;
    drive::DataDirection direction = drive::DataDirection::none;
    std::uint32_t length = 0;
    std::vector<std::uint8_t> dataOut;
};

class SimulatedDevices final : public drive::native::DeviceOs {
public:
    explicit SimulatedDevices(simdrive::DriveSet& drives) : drives_(drives) {}

    std::size_t ListCdDevices(std::span<drive::native::CdDevice> devices) override;
    drive::native::OpenResult Open(const char* path) override;
    std::optional<drive::native::ScsiAddress> QueryAddress(
        drive::native::DeviceHandle device) override;
    std::optional<drive::native::Capabilities> QueryCapabilities(
        drive::native::DeviceHandle device) override;
    drive::native::PassThroughReply PassThrough(
        drive::native::DeviceHandle device, drive::native::PassThroughRequest& request) override;
    void Close(drive::native::DeviceHandle) override {}
    void ReportOpenFailure(const char*, int) override {}
    void ReportReadOnly(const char*) override {}

    [[nodiscard]] std::vector<SentCommand> TakeLog();

    // Changes a drive's answer after it ran a command: the faults a test injects.
    using Tamper = std::function<void(const SentCommand&, simdrive::CommandResult&,
                                      std::span<std::uint8_t> data)>;
    void SetTamper(Tamper tamper) { tamper_ = std::move(tamper); }

private:
    Tamper tamper_;
    simdrive::DriveSet& drives_;
    std::mutex logLock_;
    std::vector<SentCommand> log_;
};

// The drive layer started over the drives of a description, with its drives discovered.
class SimulatedMachine {
public:
    // `description` in the drive description format; WAV discs are replaced by `wavOverride`
    // when it is not empty.
    explicit SimulatedMachine(const std::string& description, const std::string& wavOverride = {});
    ~SimulatedMachine();
    SimulatedMachine(const SimulatedMachine&) = delete;
    SimulatedMachine& operator=(const SimulatedMachine&) = delete;

    [[nodiscard]] std::int32_t DriveCount() const { return driveCount_; }
    [[nodiscard]] drive::DriveRecord& Record(std::int32_t index);
    [[nodiscard]] simdrive::Drive& Simulated(std::int32_t index);
    // The commands sent since the last call.
    [[nodiscard]] std::vector<SentCommand> TakeLog() { return devices_->TakeLog(); }
    void SetTamper(SimulatedDevices::Tamper tamper) { devices_->SetTamper(std::move(tamper)); }

private:
    std::optional<simdrive::DriveSet> drives_;
    std::optional<SimulatedDevices> devices_;
    std::array<drive::DriveRecord, drive::maxDrives> table_{};
    std::int32_t driveCount_ = 0;
};

// The text of a shipped description (simdrive/drives/<name>).
[[nodiscard]] std::string ShippedDescription(const std::string& name);

// A WAV image of `sectors` sectors of pattern audio, written once per process.
[[nodiscard]] const std::string& SmallWavImage();

}  // namespace audio_testing
