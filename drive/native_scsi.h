// The native command path: answers ASPI request blocks itself, over the OS's SCSI
// pass-through, so that discovery and every command run unchanged when no manager library is
// installed. Execute requests go through an 8-slot ring to one worker thread, which issues the
// pass-through and signals the block's completion event.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <span>

#include "drive/aspi_contract.h"
#include "drive/native_os.h"
#include "runtime/sync.h"
#include "runtime/thread.h"

namespace drive {

inline constexpr std::size_t maxNativeDevices = 16;
inline constexpr std::int32_t nativeScanLimit = 12;
inline constexpr std::int32_t ringSlots = 8;

struct NativeDevice {
    std::array<char, 64> path{};
    native::DeviceHandle handle = native::invalidDevice;
    std::int32_t adapter = -1;
    std::int32_t target = -1;
    std::int32_t lun = -1;
    native::Bus bus = native::Bus::unknown;
};

// The status a request block receives for the target's status byte.
struct MappedStatus {
    std::uint8_t srbStatus = 0;
    std::uint8_t targetStatus = 0;
};
[[nodiscard]] MappedStatus MapTargetStatus(std::uint8_t scsiStatus);

// The emulated host adapter inquiry's answers, from the devices of one adapter.
[[nodiscard]] std::uint8_t HostAdapterScsiId(std::span<const NativeDevice> devices,
                                             std::int32_t adapter);
[[nodiscard]] std::uint8_t MaximumTargets(std::span<const NativeDevice> devices,
                                          std::int32_t adapter);
[[nodiscard]] std::uint16_t AlignmentBits(std::uint32_t alignmentMask);

class NativeScsi {
public:
    explicit NativeScsi(native::DeviceOs& os) : os_(os) {}
    ~NativeScsi() { Stop(); }
    NativeScsi(const NativeScsi&) = delete;
    NativeScsi& operator=(const NativeScsi&) = delete;

    // Starts the worker, opens every CD device (at most 12) and numbers them.
    void Start();
    // Stops and joins the worker, then closes the devices.
    void Stop();

    // False when the worker could not start or a CD device could not be opened.
    [[nodiscard]] bool Available() const { return available_; }
    [[nodiscard]] std::span<const NativeDevice> Devices() const {
        return std::span(devices_).first(static_cast<std::size_t>(deviceCount_));
    }

    [[nodiscard]] std::uint32_t SupportInfo() const;
    // The bus of the device at that address; unknown when none is there.
    [[nodiscard]] native::Bus DeviceBus(std::int32_t adapter, std::int32_t target,
                                        std::int32_t lun) const;
    std::uint32_t Send(void* requestBlock);
    // The data bytes that did not move in the last request completed for `block`; nothing when
    // its last request was not this layer's. Valid once the block's status is final.
    [[nodiscard]] std::optional<std::uint32_t> Residual(const aspi::SRB_ExecSCSICmd* block) const;

private:
    struct Slot {
        native::PassThroughRequest request;
        aspi::SRB_ExecSCSICmd* block = nullptr;
        std::int32_t device = 0;
    };

    void ScanDevices();
    void NumberUnaddressedDevices();
    [[nodiscard]] std::int32_t FindDevice(std::int32_t adapter, std::int32_t target,
                                          std::int32_t lun) const;
    std::uint32_t Execute(aspi::SRB_ExecSCSICmd& block);
    std::uint32_t GetDeviceType(aspi::SRB_GDEVBlock& block) const;
    std::uint32_t HostAdapterInquiry(aspi::SRB_HAInquiry& block) const;
    static std::int32_t WorkerProc(std::intptr_t self);
    void RunWorker();
    void Complete(Slot& slot);

    native::DeviceOs& os_;
    bool available_ = false;
    bool started_ = false;
    std::array<NativeDevice, maxNativeDevices> devices_{};
    std::int32_t deviceCount_ = 0;

    std::array<Slot, ringSlots> slots_{};
    std::atomic<std::int32_t> head_{0};  // written by the worker alone
    std::atomic<std::int32_t> tail_{0};  // written by the sender alone
    std::atomic<bool> shuttingDown_{false};
    runtime::Event workEvent_{runtime::ResetMode::automatic};
    // The last completed request's block and residual, stored before its status is published.
    std::atomic<const aspi::SRB_ExecSCSICmd*> completedBlock_{nullptr};
    std::atomic<std::uint32_t> completedResidual_{0};
    runtime::Thread* worker_ = nullptr;
};

}  // namespace drive
