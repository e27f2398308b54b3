#include "drive/native_scsi.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <thread>

#include "drive/completion_event.h"
#include "runtime/error.h"

namespace drive {
namespace {

using namespace std::chrono_literals;

constexpr std::size_t workerStackBytes = 32'000;
constexpr auto commandTimeout = std::chrono::milliseconds(250s);
constexpr std::uint8_t highestTargetsPerAdapter = 255;

constexpr std::string_view managerId = "TOV ASPI 0.3b";
constexpr std::string_view adapterName = "SCSI Adapter ";

// A status that a request block's field can carry; the ring and the status fields are bytes.
bool FitsAddress(const native::ScsiAddress& address) {
    return address.adapter >= 0 && address.adapter < 255 && address.target >= 0 &&
           address.target <= 255 && address.lun >= 0 && address.lun <= 255;
}

void CopyText(std::uint8_t (&field)[16], std::string_view text) {
    std::memset(field, 0, sizeof field);
    std::memcpy(field, text.data(), std::min(text.size(), sizeof field - 1));
}

void StoreLittleEndian32(std::uint8_t* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

void PublishStatus(std::uint8_t& field, std::uint8_t status) {
    std::atomic_ref<std::uint8_t>(field).store(status, std::memory_order_release);
}

}  // namespace

MappedStatus MapTargetStatus(std::uint8_t scsiStatus) {
    switch (scsiStatus) {
        case 0x00:
            return {aspi::statusCompleted, scsiStatus};
        case 0x02:
            return {aspi::statusCheckCondition, aspi::targetStatusCheckCondition};
        case 0x08:
            return {aspi::statusBusy, scsiStatus};
        case 0x22:
            return {aspi::statusAborted, scsiStatus};
        default:
            return {aspi::statusFailedInit, scsiStatus};
    }
}

std::uint8_t HostAdapterScsiId(std::span<const NativeDevice> devices, std::int32_t adapter) {
    const auto used = [&](std::int32_t id) {
        return std::any_of(devices.begin(), devices.end(), [&](const NativeDevice& device) {
            return device.adapter == adapter && device.target == id;
        });
    };
    for (std::int32_t id = 7; id >= 0; --id) {
        if (!used(id)) {
            return static_cast<std::uint8_t>(id);
        }
    }
    for (std::int32_t id = 15; id >= 0; --id) {
        if (!used(id)) {
            return static_cast<std::uint8_t>(id);
        }
    }
    return 15;
}

// Doubles from 8 for every device whose target would lie beyond the count so far.
std::uint8_t MaximumTargets(std::span<const NativeDevice> devices, std::int32_t adapter) {
    std::int32_t targets = 8;
    for (const NativeDevice& device : devices) {
        if (device.adapter == adapter && device.target >= targets) {
            targets *= 2;
        }
    }
    return static_cast<std::uint8_t>(std::min<std::int32_t>(targets, highestTargetsPerAdapter));
}

std::uint16_t AlignmentBits(std::uint32_t alignmentMask) {
    std::uint16_t bits = 0;
    while (alignmentMask != 0 && bits < 11) {
        ++bits;
        alignmentMask >>= 1;
    }
    return bits;
}

void NativeScsi::Start() {
    Stop();
    head_ = 0;
    tail_ = 0;
    shuttingDown_ = false;
    deviceCount_ = 0;
    workEvent_.Reset();
    started_ = runtime::StartThread(worker_, WorkerProc, reinterpret_cast<std::intptr_t>(this),
                                    workerStackBytes, true);
    available_ = started_;
    ScanDevices();
    NumberUnaddressedDevices();
}

void NativeScsi::ScanDevices() {
    std::array<native::CdDevice, 32> listed{};
    const std::size_t count = os_.ListCdDevices(listed);
    for (std::size_t i = 0; i < count && deviceCount_ < nativeScanLimit; ++i) {
        NativeDevice& device = devices_[static_cast<std::size_t>(deviceCount_)];
        device = NativeDevice{};
        device.path = listed[i].path;
        const native::OpenResult opened = os_.Open(device.path.data());
        if (opened.handle == native::invalidDevice) {
            // One drive out of reach makes the whole path unavailable, as with a manager
            // that failed to initialise; the user learns which drive and why.
            os_.ReportOpenFailure(device.path.data(), opened.error);
            available_ = false;
            continue;
        }
        if (opened.access == native::Access::readOnly) {
            os_.ReportReadOnly(device.path.data());
        }
        device.handle = opened.handle;
        device.bus = os_.QueryBus(device.handle);
        const auto address = os_.QueryAddress(device.handle);
        if (address.has_value() && FitsAddress(*address)) {
            device.adapter = address->adapter;
            device.target = address->target;
            device.lun = address->lun;
        } else {
            device.adapter = -1;
            device.target = -1;
            device.lun = 0;
        }
        ++deviceCount_;
    }
}

// Devices whose address stayed unknown go to adapters beyond the known ones, eight a piece.
void NativeScsi::NumberUnaddressedDevices() {
    std::int32_t highest = 0;
    for (const NativeDevice& device : Devices()) {
        highest = std::max(highest, device.adapter);
    }
    std::int32_t nextAdapter = highest + 1;
    std::int32_t nextTarget = 0;
    for (NativeDevice& device : std::span(devices_).first(static_cast<std::size_t>(deviceCount_))) {
        if (device.adapter >= 0) {
            continue;
        }
        device.adapter = nextAdapter;
        device.target = nextTarget;
        if (++nextTarget > 7) {
            nextTarget = 0;
            ++nextAdapter;
        }
    }
}

void NativeScsi::Stop() {
    shuttingDown_ = true;
    if (started_) {
        workEvent_.Set();
        std::int32_t result = 0;
        (void)runtime::WaitThread(worker_, runtime::waitForever, result);
        started_ = false;
    }
    for (NativeDevice& device : std::span(devices_).first(static_cast<std::size_t>(deviceCount_))) {
        if (device.handle != native::invalidDevice) {
            os_.Close(device.handle);
            device.handle = native::invalidDevice;
        }
    }
    deviceCount_ = 0;
    available_ = false;
}

std::uint32_t NativeScsi::SupportInfo() const {
    std::int32_t adapters = 0;
    for (const NativeDevice& device : Devices()) {
        adapters = std::max(adapters, device.adapter + 1);
    }
    return aspi::SupportWord(aspi::statusCompleted, runtime::Narrow<std::uint8_t>(adapters));
}

native::Bus NativeScsi::DeviceBus(std::int32_t adapter, std::int32_t target,
                                  std::int32_t lun) const {
    const std::int32_t found = FindDevice(adapter, target, lun);
    return found < 0 ? native::Bus::unknown : devices_[static_cast<std::size_t>(found)].bus;
}

std::int32_t NativeScsi::FindDevice(std::int32_t adapter, std::int32_t target,
                                    std::int32_t lun) const {
    std::int32_t found = -1;
    for (std::int32_t i = 0; i < deviceCount_; ++i) {
        const NativeDevice& device = devices_[static_cast<std::size_t>(i)];
        if (device.adapter == adapter && device.target == target && device.lun == lun) {
            found = i;
        }
    }
    return found;
}

std::uint32_t NativeScsi::Send(void* requestBlock) {
    if (requestBlock == nullptr) {
        return aspi::statusInvalidRequest;
    }
    aspi::SRB_Header header;
    std::memcpy(&header, requestBlock, sizeof header);
    switch (header.SRB_Cmd) {
        case aspi::commandExecute:
            return Execute(*static_cast<aspi::SRB_ExecSCSICmd*>(requestBlock));
        case aspi::commandGetDeviceType:
            return GetDeviceType(*static_cast<aspi::SRB_GDEVBlock*>(requestBlock));
        case aspi::commandHostAdapterInquiry:
            return HostAdapterInquiry(*static_cast<aspi::SRB_HAInquiry*>(requestBlock));
        default:
            return aspi::statusInvalidRequest;
    }
}

std::uint32_t NativeScsi::Execute(aspi::SRB_ExecSCSICmd& block) {
    completedBlock_.store(nullptr, std::memory_order_relaxed);  // no stale residual for it
    const std::int32_t device = FindDevice(block.SRB_HaId, block.SRB_Target, block.SRB_Lun);
    if (device < 0) {
        return aspi::statusInvalidAdapter;
    }
    native::PassThroughRequest request;
    request.cdbLength = std::min<std::uint8_t>(block.SRB_CDBLen, 16);
    std::memcpy(request.cdb.data(), block.CDBByte, request.cdbLength);
    request.direction = (block.SRB_Flags & aspi::flagDataIn) != 0    ? DataDirection::in
                        : (block.SRB_Flags & aspi::flagDataOut) != 0 ? DataDirection::out
                                                                     : DataDirection::none;
    request.data = block.SRB_BufPointer;
    request.length = block.SRB_BufLen;
    request.senseLength = block.SRB_SenseLen;
    request.timeout = commandTimeout;

    block.SRB_TargStat = 0;
    block.SRB_HaStat = 0;
    PublishStatus(block.SRB_Status, aspi::statusPending);
    if ((block.SRB_Flags & aspi::flagEventNotify) != 0) {
        CompletionEvent::Reset(block.SRB_PostProc);
    }

    const std::int32_t tail = tail_.load(std::memory_order_relaxed);
    const std::int32_t next = (tail + 1) % ringSlots;
    while (next == head_.load(std::memory_order_acquire) && !shuttingDown_) {
        std::this_thread::yield();
    }
    Slot& slot = slots_[static_cast<std::size_t>(tail)];
    slot.request = request;
    slot.block = &block;
    slot.device = device;
    tail_.store(next, std::memory_order_release);
    workEvent_.Set();
    return aspi::statusPending;
}

std::uint32_t NativeScsi::GetDeviceType(aspi::SRB_GDEVBlock& block) const {
    if (FindDevice(block.SRB_HaId, block.SRB_Target, block.SRB_Lun) >= 0) {
        block.SRB_DeviceType = aspi::peripheralCdRom;
        block.SRB_Status = aspi::statusCompleted;
    } else {
        block.SRB_Status = aspi::statusNoDevice;
    }
    return block.SRB_Status;
}

std::uint32_t NativeScsi::HostAdapterInquiry(aspi::SRB_HAInquiry& block) const {
    const std::int32_t adapter = block.SRB_HaId;
    std::int32_t device = -1;
    for (std::int32_t i = 0; i < deviceCount_; ++i) {
        if (devices_[static_cast<std::size_t>(i)].adapter == adapter) {
            device = i;
        }
    }
    if (device < 0) {
        block.SRB_Status = aspi::statusInvalidAdapter;
        return block.SRB_Status;
    }
    const native::Capabilities capabilities =
        os_.QueryCapabilities(devices_[static_cast<std::size_t>(device)].handle)
            .value_or(native::Capabilities{});
    block.HA_Count = aspi::SupportAdapters(SupportInfo());
    block.HA_SCSI_ID = HostAdapterScsiId(Devices(), adapter);
    CopyText(block.HA_ManagerId, managerId);
    std::memset(block.HA_Identifier, 0, sizeof block.HA_Identifier);
    std::memcpy(block.HA_Identifier, adapterName.data(), adapterName.size());
    block.HA_Identifier[adapterName.size()] = static_cast<std::uint8_t>('0' + adapter);
    std::memset(block.HA_Unique, 0, sizeof block.HA_Unique);
    const std::uint16_t alignment = AlignmentBits(capabilities.alignmentMask);
    block.HA_Unique[0] = static_cast<std::uint8_t>(alignment & 0xFF);
    block.HA_Unique[1] = static_cast<std::uint8_t>(alignment >> 8);
    block.HA_Unique[3] = MaximumTargets(Devices(), adapter);
    StoreLittleEndian32(&block.HA_Unique[4], capabilities.maximumTransferLength);
    block.SRB_Status = aspi::statusCompleted;
    return block.SRB_Status;
}

std::optional<std::uint32_t> NativeScsi::Residual(const aspi::SRB_ExecSCSICmd* block) const {
    if (completedBlock_.load(std::memory_order_relaxed) != block) {
        return std::nullopt;
    }
    return completedResidual_.load(std::memory_order_relaxed);
}

std::int32_t NativeScsi::WorkerProc(std::intptr_t self) {
    reinterpret_cast<NativeScsi*>(self)->RunWorker();
    return 0;
}

void NativeScsi::RunWorker() {
    while (!shuttingDown_) {
        const std::int32_t head = head_.load(std::memory_order_relaxed);
        if (head == tail_.load(std::memory_order_acquire)) {
            (void)workEvent_.WaitFor(100ms);
            continue;
        }
        Complete(slots_[static_cast<std::size_t>(head)]);
        head_.store((head + 1) % ringSlots, std::memory_order_release);
    }
}

// Runs one queued request and stores its outcome in the caller's block, status last.
void NativeScsi::Complete(Slot& slot) {
    aspi::SRB_ExecSCSICmd& block = *slot.block;
    const native::PassThroughReply reply =
        os_.PassThrough(devices_[static_cast<std::size_t>(slot.device)].handle, slot.request);
    std::uint8_t status = aspi::statusInvalidRequest;
    std::uint32_t residual = slot.request.length;
    if (reply.delivered) {
        std::memcpy(block.SenseArea, slot.request.sense.data(), slot.request.senseLength);
        const MappedStatus mapped = MapTargetStatus(reply.scsiStatus);
        block.SRB_TargStat = mapped.targetStatus;
        status = mapped.srbStatus;
        residual = std::min(reply.residual, slot.request.length);
        // Told the way a manager tells it, and counted exactly for the command cycle.
        if (residual > 0) {
            block.SRB_HaStat = aspi::hostDataOverrunUnderrun;
        }
    }
    completedResidual_.store(residual, std::memory_order_relaxed);
    completedBlock_.store(&block, std::memory_order_relaxed);
    // Once the status is out the caller may reuse the block: read what follows it first.
    const bool notify = (block.SRB_Flags & aspi::flagEventNotify) != 0;
    void* const event = block.SRB_PostProc;
    PublishStatus(block.SRB_Status, status);
    if (notify) {
        CompletionEvent::Signal(event);
    }
}

}  // namespace drive
