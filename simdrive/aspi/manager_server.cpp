#include "manager_server.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

#include "standin_event.h"

namespace standin {
namespace {

constexpr std::size_t senseBytes = 18;

simdrive::Direction DirectionOf(std::uint8_t flags, std::uint32_t length) {
    if ((flags & aspi::flagDataIn) != 0) {
        return simdrive::Direction::in;
    }
    return length > 0 ? simdrive::Direction::out : simdrive::Direction::none;
}

void PublishStatus(std::uint8_t& field, std::uint8_t status) {
    std::atomic_ref<std::uint8_t>(field).store(status, std::memory_order_release);
}

// Runs one execute request on its drive and stores the outcome, status last, then signals.
void Complete(aspi::SRB_ExecSCSICmd& block, simdrive::Drive& drive) {
    std::uint8_t sense[senseBytes] = {};
    const simdrive::CommandResult result = drive.Execute(
        std::span<const std::uint8_t>(block.CDBByte, std::min<std::size_t>(block.SRB_CDBLen, 16)),
        DirectionOf(block.SRB_Flags, block.SRB_BufLen),
        std::span<std::uint8_t>(block.SRB_BufPointer, block.SRB_BufLen), sense);
    std::uint8_t status = aspi::statusCompleted;
    if (result.host != simdrive::HostStatus::ok) {
        block.SRB_HaStat = aspi::hostDataOverrunUnderrun;
        status = aspi::statusInvalidRequest;
    } else if (result.status == simdrive::status::checkCondition) {
        std::memcpy(block.SenseArea, sense, std::min<std::size_t>(block.SRB_SenseLen, senseBytes));
        block.SRB_TargStat = aspi::targetStatusCheckCondition;
        status = aspi::statusCheckCondition;
    } else if (result.status != simdrive::status::good) {
        block.SRB_TargStat = result.status;
        status = aspi::statusFailedInit;
    } else if (result.transferred < block.SRB_BufLen) {
        // A request block has no residual count: a manager tells a short transfer this way.
        block.SRB_HaStat = aspi::hostDataOverrunUnderrun;
    }
    // Once the status is out the caller may reuse the block: read what follows it first.
    const bool notify = (block.SRB_Flags & aspi::flagEventNotify) != 0;
    void* const event = block.SRB_PostProc;
    PublishStatus(block.SRB_Status, status);
    if (notify) {
        SignalEvent(event);
    }
}

void PutText(std::uint8_t (&field)[16], const char* text) {
    std::memset(field, 0, sizeof field);
    std::memcpy(field, text, std::min<std::size_t>(std::strlen(text), sizeof field - 1));
}

}  // namespace

ManagerServer::ManagerServer(std::optional<simdrive::DriveSet> drives, Completion completion,
                             std::string commandLog)
    : drives_(std::move(drives)), completion_(completion), commandLog_(std::move(commandLog)) {
    if (drives_.has_value()) {
        for (std::size_t i = 0; i < drives_->Count(); ++i) {
            adapters_ = std::max<std::uint8_t>(
                adapters_, static_cast<std::uint8_t>(drives_->At(i).Settings().adapter + 1));
        }
    }
}

ManagerServer::~ManagerServer() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (worker_.joinable()) {
        worker_.join();
    }
}

std::uint32_t ManagerServer::SupportInfo() const {
    if (!drives_.has_value()) {
        return aspi::SupportWord(aspi::statusFailedInit, 0);
    }
    return aspi::SupportWord(aspi::statusCompleted, adapters_);
}

std::uint32_t ManagerServer::Send(void* requestBlock) {
    if (requestBlock == nullptr || !drives_.has_value()) {
        return aspi::statusInvalidRequest;
    }
    auto& header = *static_cast<aspi::SRB_Header*>(requestBlock);
    switch (header.SRB_Cmd) {
        case aspi::commandHostAdapterInquiry:
            return HostAdapterInquiry(*static_cast<aspi::SRB_HAInquiry*>(requestBlock));
        case aspi::commandGetDeviceType:
            return GetDeviceType(*static_cast<aspi::SRB_GDEVBlock*>(requestBlock));
        case aspi::commandExecute:
            return Execute(*static_cast<aspi::SRB_ExecSCSICmd*>(requestBlock));
        default:
            header.SRB_Status = aspi::statusInvalidRequest;
            return header.SRB_Status;
    }
}

// Reports as many targets as the adapter's highest drive needs, fewer than 8 included.
std::uint32_t ManagerServer::HostAdapterInquiry(aspi::SRB_HAInquiry& block) {
    if (block.SRB_HaId >= adapters_) {
        block.SRB_Status = aspi::statusInvalidAdapter;
        return block.SRB_Status;
    }
    std::uint32_t targets = 1;
    for (std::size_t i = 0; i < drives_->Count(); ++i) {
        const simdrive::DriveSettings& settings = drives_->At(i).Settings();
        if (settings.adapter == block.SRB_HaId) {
            targets = std::max<std::uint32_t>(targets, settings.target + 1U);
        }
    }
    block.HA_Count = adapters_;
    block.HA_SCSI_ID = 7;
    PutText(block.HA_ManagerId, "SIMDRIVE ASPI");
    PutText(block.HA_Identifier, "SIMULATED BUS");
    std::memset(block.HA_Unique, 0, sizeof block.HA_Unique);
    block.HA_Unique[3] = static_cast<std::uint8_t>(std::min<std::uint32_t>(targets, 255));
    block.HA_Unique[6] = 0x03;  // 196,608 bytes per transfer
    block.SRB_Status = aspi::statusCompleted;
    return block.SRB_Status;
}

std::uint32_t ManagerServer::GetDeviceType(aspi::SRB_GDEVBlock& block) {
    const simdrive::Drive* drive = drives_->Find(block.SRB_HaId, block.SRB_Target, block.SRB_Lun);
    if (drive == nullptr) {
        block.SRB_Status = aspi::statusNoDevice;
    } else {
        block.SRB_DeviceType = drive->Settings().peripheralType;
        block.SRB_Status = aspi::statusCompleted;
    }
    return block.SRB_Status;
}

std::uint32_t ManagerServer::Execute(aspi::SRB_ExecSCSICmd& block) {
    simdrive::Drive* drive = drives_->Find(block.SRB_HaId, block.SRB_Target, block.SRB_Lun);
    if (drive == nullptr) {
        block.SRB_Status = aspi::statusNoDevice;
        return block.SRB_Status;
    }
    LogCommand(block);
    block.SRB_HaStat = 0;
    block.SRB_TargStat = 0;
    PublishStatus(block.SRB_Status, aspi::statusPending);
    const bool early = completion_ == Completion::early ||
                       (completion_ == Completion::alternate && sends_++ % 2 == 0);
    if (early) {
        Complete(block, *drive);
        return aspi::statusPending;
    }
    {
        std::lock_guard lock(mutex_);
        queue_.push_back({&block, drive});
        if (!worker_.joinable()) {
            worker_ = std::thread([this] { Serve(); });
        }
    }
    wake_.notify_all();
    return aspi::statusPending;
}

void ManagerServer::LogCommand(const aspi::SRB_ExecSCSICmd& block) const {
    if (commandLog_.empty()) {
        return;
    }
    std::string line;
    const auto hex = [&line](std::uint8_t byte) {
        static constexpr char digits[] = "0123456789abcdef";
        line += line.empty() || line.back() == ' ' ? "" : " ";
        line += digits[byte >> 4];
        line += digits[byte & 0x0F];
    };
    for (std::size_t i = 0; i < std::min<std::size_t>(block.SRB_CDBLen, 16); ++i) {
        hex(block.CDBByte[i]);
    }
    if ((block.SRB_Flags & aspi::flagDataOut) != 0 && block.SRB_BufPointer != nullptr) {
        line += " >";
        for (std::uint32_t i = 0; i < block.SRB_BufLen; ++i) {
            hex(block.SRB_BufPointer[i]);
        }
    }
    if (std::FILE* log = std::fopen(commandLog_.c_str(), "a")) {
        std::fprintf(log, "%s\n", line.c_str());
        std::fclose(log);
    }
}

void ManagerServer::Serve() {
    std::unique_lock lock(mutex_);
    while (true) {
        wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) {
            return;
        }
        const Request request = queue_.front();
        queue_.pop_front();
        lock.unlock();
        // Completing on this thread, after the send has returned, is the normal case; no
        // artificial delay, so a whole disc reads at full speed.
        std::this_thread::yield();
        Complete(*request.block, *request.drive);
        lock.lock();
    }
}

}  // namespace standin
