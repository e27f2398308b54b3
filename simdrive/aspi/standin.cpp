// A stand-in SCSI manager library serving simulated drives: both managers' entry pairs, the
// request blocks and the completion event exactly as drive/aspi_contract.h lays them down.
//
// Environment (read by this library only):
//   SIMDRIVE_DESCRIPTION     the drive description file to serve
//   SIMDRIVE_ASPI_COMPLETION "late" (default): execute requests complete on the library's
//                            thread a little after the send returned; "early": before the send
//                            returns; "alternate": early, late, early, ...
//   SIMDRIVE_ASPI_LOG        a file to which each support query appends the entry it came by
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "drive/aspi_contract.h"
#include "simdrive/description.h"
#include "standin_event.h"

namespace {

using namespace std::chrono_literals;

constexpr auto lateDelay = 2ms;
constexpr std::size_t senseBytes = 18;

enum class Completion { late, early, alternate };

Completion CompletionFromEnvironment() {
    const char* text = std::getenv("SIMDRIVE_ASPI_COMPLETION");
    const std::string_view mode = text != nullptr ? text : "";
    if (mode == "early") {
        return Completion::early;
    }
    if (mode == "alternate") {
        return Completion::alternate;
    }
    return Completion::late;
}

void LogEntry(const char* entry) {
    const char* path = std::getenv("SIMDRIVE_ASPI_LOG");
    if (path == nullptr || *path == '\0') {
        return;
    }
    if (std::FILE* log = std::fopen(path, "a")) {
        std::fprintf(log, "%s\n", entry);
        std::fclose(log);
    }
}

simdrive::Direction DirectionOf(std::uint8_t flags, std::uint32_t length) {
    if ((flags & aspi::flagDataIn) != 0) {
        return simdrive::Direction::in;
    }
    return length > 0 ? simdrive::Direction::out : simdrive::Direction::none;
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
        block.SRB_HaStat = 0x12;  // data over-run or under-run
        status = aspi::statusInvalidRequest;
    } else if (result.status == simdrive::status::checkCondition) {
        std::memcpy(block.SenseArea, sense, std::min<std::size_t>(block.SRB_SenseLen, senseBytes));
        block.SRB_TargStat = aspi::targetStatusCheckCondition;
        status = aspi::statusCheckCondition;
    } else if (result.status != simdrive::status::good) {
        block.SRB_TargStat = result.status;
        status = aspi::statusFailedInit;
    }
    const bool notify = (block.SRB_Flags & aspi::flagEventNotify) != 0;
    void* const event = block.SRB_PostProc;
    std::atomic_ref<std::uint8_t>(block.SRB_Status).store(status, std::memory_order_release);
    if (notify) {
        standin::SignalEvent(event);
    }
}

class Server {
public:
    ~Server() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        if (worker_.joinable()) {
            worker_.join();
        }
    }

    std::uint32_t SupportInfo() {
        Load();
        if (!drives_.has_value()) {
            return aspi::SupportWord(aspi::statusFailedInit, 0);
        }
        return aspi::SupportWord(aspi::statusCompleted, adapters_);
    }

    std::uint32_t Send(void* requestBlock) {
        Load();
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

private:
    void Load() {
        std::call_once(loaded_, [this] {
            const char* path = std::getenv("SIMDRIVE_DESCRIPTION");
            if (path == nullptr || *path == '\0') {
                std::fprintf(stderr, "simulated drive manager: SIMDRIVE_DESCRIPTION is not set\n");
                return;
            }
            std::string error;
            drives_ =
                simdrive::DriveSet::Load(path, simdrive::LoadOptions::FromEnvironment(), error);
            if (!drives_.has_value()) {
                std::fprintf(stderr, "simulated drive manager: %s\n", error.c_str());
                return;
            }
            for (std::size_t i = 0; i < drives_->Count(); ++i) {
                adapters_ = std::max<std::uint8_t>(
                    adapters_, static_cast<std::uint8_t>(drives_->At(i).Settings().adapter + 1));
            }
            completion_ = CompletionFromEnvironment();
        });
    }

    // Reports as many targets as the adapter's highest drive needs, fewer than 8 included.
    std::uint32_t HostAdapterInquiry(aspi::SRB_HAInquiry& block) {
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
        std::memset(block.HA_ManagerId, 0, sizeof block.HA_ManagerId);
        std::memcpy(block.HA_ManagerId, "SIMDRIVE ASPI", 13);
        std::memset(block.HA_Identifier, 0, sizeof block.HA_Identifier);
        std::memcpy(block.HA_Identifier, "SIMULATED BUS", 13);
        std::memset(block.HA_Unique, 0, sizeof block.HA_Unique);
        block.HA_Unique[3] = static_cast<std::uint8_t>(targets);
        block.HA_Unique[6] = 0x03;  // 196,608 bytes per transfer
        block.SRB_Status = aspi::statusCompleted;
        return block.SRB_Status;
    }

    std::uint32_t GetDeviceType(aspi::SRB_GDEVBlock& block) {
        const simdrive::Drive* drive =
            drives_->Find(block.SRB_HaId, block.SRB_Target, block.SRB_Lun);
        if (drive == nullptr) {
            block.SRB_Status = aspi::statusNoDevice;
        } else {
            block.SRB_DeviceType = drive->Settings().peripheralType;
            block.SRB_Status = aspi::statusCompleted;
        }
        return block.SRB_Status;
    }

    std::uint32_t Execute(aspi::SRB_ExecSCSICmd& block) {
        simdrive::Drive* drive = drives_->Find(block.SRB_HaId, block.SRB_Target, block.SRB_Lun);
        if (drive == nullptr) {
            block.SRB_Status = aspi::statusNoDevice;
            return block.SRB_Status;
        }
        block.SRB_HaStat = 0;
        block.SRB_TargStat = 0;
        std::atomic_ref<std::uint8_t>(block.SRB_Status)
            .store(aspi::statusPending, std::memory_order_release);
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

    void Serve() {
        std::unique_lock lock(mutex_);
        while (true) {
            wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (queue_.empty()) {
                return;
            }
            const Request request = queue_.front();
            queue_.pop_front();
            lock.unlock();
            std::this_thread::sleep_for(lateDelay);
            Complete(*request.block, *request.drive);
            lock.lock();
        }
    }

    struct Request {
        aspi::SRB_ExecSCSICmd* block;
        simdrive::Drive* drive;
    };

    std::once_flag loaded_;
    std::optional<simdrive::DriveSet> drives_;
    std::uint8_t adapters_ = 0;
    Completion completion_ = Completion::late;
    std::uint32_t sends_ = 0;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Request> queue_;
    bool stopping_ = false;
    std::thread worker_;
};

Server& TheServer() {
    static Server server;
    return server;
}

}  // namespace

#define STANDIN_EXPORT extern "C" __attribute__((visibility("default")))

STANDIN_EXPORT std::uint32_t GetASPI32SupportInfo() {
    LogEntry("GetASPI32SupportInfo");
    return TheServer().SupportInfo();
}

STANDIN_EXPORT std::uint32_t SendASPI32Command(void* requestBlock) {
    return TheServer().Send(requestBlock);
}

STANDIN_EXPORT std::uint32_t GetASAPI32SupportInfo() {
    LogEntry("GetASAPI32SupportInfo");
    return TheServer().SupportInfo();
}

// This manager's send answers one less than the status.
STANDIN_EXPORT std::uint32_t SendASAPI32Command(void* requestBlock) {
    return TheServer().Send(requestBlock) - 1;
}
