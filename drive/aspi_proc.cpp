#include "drive/aspi_proc.h"

#include <atomic>
#include <cstring>

#include "drive/completion_event.h"
#include "drive/native_scsi.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/sync.h"

namespace drive {
namespace {

// One block, used from its first 64 KiB boundary on, so the buffer never straddles one.
constexpr std::size_t transferBlockBytes = 0x40011;
constexpr std::uintptr_t boundary = 0x10000;
constexpr std::uint8_t senseBytes = 14;

struct Transport {
    TransportKind kind = TransportKind::none;
    TransportPaths paths;
};

struct CommandState {
    runtime::CriticalSection lock;
    aspi::SRB_ExecSCSICmd srb{};
    CompletionEvent event;
    std::atomic<bool> pending{false};
    std::byte* block = nullptr;
    std::uint8_t* transferBuffer = nullptr;
};

Transport transport;
CommandState commandState;

std::uint8_t LoadStatus(aspi::SRB_ExecSCSICmd& block) {
    return std::atomic_ref<std::uint8_t>(block.SRB_Status).load(std::memory_order_acquire);
}

void StoreStatus(aspi::SRB_ExecSCSICmd& block, std::uint8_t status) {
    std::atomic_ref<std::uint8_t>(block.SRB_Status).store(status, std::memory_order_release);
}

std::uint8_t FlagsFor(DataDirection direction) {
    switch (direction) {
        case DataDirection::in:
            return aspi::flagEventNotify | aspi::flagDataIn;
        case DataDirection::out:
            return aspi::flagEventNotify | aspi::flagDataOut;
        case DataDirection::none:
            break;
    }
    return aspi::flagEventNotify;
}

void FillRequest(aspi::SRB_ExecSCSICmd& srb, const DriveRecord& drive, const ScsiCommand& command) {
    std::memset(&srb, 0, sizeof srb);
    srb.SRB_Cmd = aspi::commandExecute;
    // Any adapter number a path reported fits the byte; Linux hosts go well beyond 15.
    srb.SRB_HaId =
        std::in_range<std::uint8_t>(drive.adapter) ? static_cast<std::uint8_t>(drive.adapter) : 0;
    srb.SRB_Flags = FlagsFor(command.direction);
    srb.SRB_Target = runtime::Narrow<std::uint8_t>(drive.target);
    srb.SRB_Lun = runtime::Narrow<std::uint8_t>(drive.lun);
    srb.SRB_SenseLen = senseBytes;
    srb.SRB_CDBLen = runtime::Narrow<std::uint8_t>(command.cdb.size());
    if (command.transferLength > 0) {
        srb.SRB_BufLen = command.transferLength;
        srb.SRB_BufPointer = commandState.transferBuffer;
    }
    srb.SRB_PostProc = commandState.event.Handle();
    std::memcpy(srb.CDBByte, command.cdb.data(), command.cdb.size());
}

CommandResult ResultOf(const aspi::SRB_ExecSCSICmd& srb, std::uint8_t status) {
    CommandResult result;
    result.status = status;
    result.hostStatus = srb.SRB_HaStat;
    result.targetStatus = srb.SRB_TargStat;
    if (srb.SRB_BufLen > 0) {
        result.residual = TransportResidual(&srb);
    }
    if (status == aspi::statusCheckCondition) {
        result.senseKey = srb.SenseArea[2] & 0x0F;
        result.asc = srb.SenseArea[12];
        result.ascq = srb.SenseArea[13];
    }
    return result;
}

}  // namespace

TransportKind ChooseTransport(const TransportPaths& paths) {
    if (paths.aspi.send != nullptr) {
        return TransportKind::aspiManager;
    }
    if (paths.alternative.send != nullptr) {
        return TransportKind::alternativeManager;
    }
    if (paths.native != nullptr && paths.native->Available()) {
        return TransportKind::native;
    }
    return TransportKind::none;
}

TransportKind SelectTransport(const TransportPaths& paths) {
    transport.paths = paths;
    transport.kind = ChooseTransport(paths);
    return transport.kind;
}

TransportKind ActiveTransport() {
    return transport.kind;
}

std::uint32_t TransportSupportInfo() {
    switch (transport.kind) {
        case TransportKind::aspiManager:
            return transport.paths.aspi.supportInfo();
        case TransportKind::alternativeManager:
            return transport.paths.alternative.supportInfo();
        case TransportKind::native:
            return transport.paths.native->SupportInfo();
        case TransportKind::none:
            break;
    }
    return aspi::SupportWord(aspi::statusFailedInit, 0);
}

std::uint32_t TransportSend(void* requestBlock) {
    switch (transport.kind) {
        case TransportKind::aspiManager:
            return transport.paths.aspi.send(requestBlock);
        case TransportKind::alternativeManager:
            return transport.paths.alternative.send(requestBlock) + 1;
        case TransportKind::native:
            return transport.paths.native->Send(requestBlock);
        case TransportKind::none:
            break;
    }
    // No path: every request ends at once, so nobody waits for a completion that never comes.
    if (requestBlock != nullptr) {
        static_cast<aspi::SRB_Header*>(requestBlock)->SRB_Status = aspi::statusFailedInit;
    }
    return aspi::statusFailedInit;
}

std::optional<std::uint32_t> TransportResidual(const aspi::SRB_ExecSCSICmd* block) {
    if (transport.kind != TransportKind::native) {
        return std::nullopt;
    }
    return transport.paths.native->Residual(block);
}

// A manager may finish a request before its send returns, leaving the event signalled with
// nobody waiting; so the status, not the event alone, says when the request is done.
std::int32_t WaitForSrb(aspi::SRB_ExecSCSICmd* block, void* event) {
    if (block == nullptr) {
        return -1;
    }
    while (LoadStatus(*block) == aspi::statusPending) {
        CompletionEvent::WaitOn(event);
    }
    commandState.pending = false;
    return LoadStatus(*block);
}

bool CreateCommandState() {
    ReleaseCommandState();
    commandState.pending = false;
    if (!commandState.event.Create()) {
        return false;
    }
    commandState.block = runtime::Allocate(transferBlockBytes);
    if (commandState.block == nullptr) {
        commandState.event.Close();
        return false;
    }
    const auto start = reinterpret_cast<std::uintptr_t>(commandState.block);
    commandState.transferBuffer =
        reinterpret_cast<std::uint8_t*>(commandState.block) + (boundary - start % boundary);
    return true;
}

void ReleaseCommandState() {
    if (commandState.pending) {
        (void)WaitForSrb(&commandState.srb, commandState.event.Handle());
    }
    commandState.event.Close();
    if (commandState.block != nullptr) {
        runtime::Deallocate(commandState.block, transferBlockBytes);
        commandState.transferBuffer = nullptr;
    }
}

void ClaimCommandLockForEnd() {
    if (!commandState.lock.HeldByCurrentThread()) {
        commandState.lock.Enter();
    }
}

CommandSession::CommandSession() {
    commandState.lock.Enter();
}

CommandSession::~CommandSession() {
    commandState.lock.Leave();
}

std::span<std::uint8_t, transferBufferBytes> CommandSession::Data() {
    if (commandState.transferBuffer == nullptr) {
        runtime::RuntimeError("DRIVE-LAYER-NOT-STARTED");
    }
    return std::span<std::uint8_t, transferBufferBytes>(commandState.transferBuffer,
                                                        transferBufferBytes);
}

CommandResult CommandSession::Run(const DriveRecord& drive, const ScsiCommand& command) {
    const std::span<std::uint8_t, transferBufferBytes> data = Data();
    runtime::CheckRange(!command.cdb.empty() && command.cdb.size() <= 16 &&
                        command.transferLength <= transferBufferBytes &&
                        command.clearDataBytes <= transferBufferBytes &&
                        command.dataOut.size() <= command.transferLength);
    aspi::SRB_ExecSCSICmd& srb = commandState.srb;
    FillRequest(srb, drive, command);
    std::memset(data.data(), 0, command.clearDataBytes);
    if (!command.dataOut.empty()) {
        std::memcpy(data.data(), command.dataOut.data(), command.dataOut.size());
    }
    // A signal left over from an earlier request must not count for this one.
    CompletionEvent::Reset(srb.SRB_PostProc);
    commandState.pending = true;
    runtime::Clock& clock = runtime::CurrentClock();
    const runtime::Microseconds start = clock.Now();
    const std::uint32_t sent = TransportSend(&srb);
    // A path that refuses the block outright may never complete it: take its answer.
    if (sent != aspi::statusPending && LoadStatus(srb) == aspi::statusPending) {
        StoreStatus(srb, static_cast<std::uint8_t>(sent & 0xFF) == 0
                             ? aspi::statusInvalidRequest
                             : static_cast<std::uint8_t>(sent & 0xFF));
    }
    const auto status = static_cast<std::uint8_t>(WaitForSrb(&srb, srb.SRB_PostProc));
    CommandResult result = ResultOf(srb, status);
    result.elapsed = clock.Now() - start;
    // What never arrived reads as zero, never as bytes an earlier command left there.
    if (result.residual.has_value() && *result.residual > 0) {
        const std::uint32_t moved = command.transferLength - *result.residual;
        std::memset(data.data() + moved, 0, *result.residual);
    }
    return result;
}

}  // namespace drive
