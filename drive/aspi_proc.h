// The one way every drive command runs: the shared request block and transfer buffer under
// one lock, sent through the command path chosen at start-up.
//
// Running a command (the audio layer does this for READ TOC, READ CD and the others):
//
//     drive::CommandSession session;          // holds commandLock until it goes
//     const drive::CommandResult result = session.Run(drive, command);
//     ... read session.Data().first(command.transferLength) ...
//
// or, when the reply is read at once, CommandCycle(drive, command, reader), which calls
// reader(result, data) under the lock. Only one command is ever in flight in the process.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "drive/aspi32.h"
#include "drive/aspi_contract.h"
#include "drive/data_direction.h"
#include "drive/drive_record.h"
#include "runtime/clock.h"

namespace drive {

class NativeScsi;

inline constexpr std::uint32_t transferBufferBytes = 196'608;

// --- The command paths ---

enum class TransportKind : std::uint8_t { aspiManager, alternativeManager, native, none };

// What start-up made available; an entry pair with null procedures is a library not loaded.
struct TransportPaths {
    ManagerEntries aspi;
    ManagerEntries alternative;
    NativeScsi* native = nullptr;  // null or unavailable: no native path
};

// By preference: the first manager, the alternative one, the native layer, else none.
[[nodiscard]] TransportKind ChooseTransport(const TransportPaths& paths);
// Makes the choice the path of every later send.
TransportKind SelectTransport(const TransportPaths& paths);
[[nodiscard]] TransportKind ActiveTransport();

// The active path's support word (status in bits 8-15, adapters in bits 0-7); without a path
// the status is aspi::statusFailedInit.
[[nodiscard]] std::uint32_t TransportSupportInfo();
// Hands a request block to the active path and returns its immediate status.
std::uint32_t TransportSend(void* requestBlock);
// The data bytes a completed execute request did not move, where the path counts them (the
// native path does; a manager's request block has no field for it).
[[nodiscard]] std::optional<std::uint32_t> TransportResidual(const aspi::SRB_ExecSCSICmd* block);
// Waits until the execute request's SRB_Status is no longer pending and returns it; -1 for a
// null block. A completion event left signalled by an earlier request cannot end the wait early.
std::int32_t WaitForSrb(aspi::SRB_ExecSCSICmd* block, void* event);

// --- The shared command state ---

// Creates the lock's companions: the transfer buffer and the completion event. False when
// either could not be had.
[[nodiscard]] bool CreateCommandState();
// Awaits a command still in flight, then releases the event and the buffer.
void ReleaseCommandState();
// For the program's end, which may come from any thread: waits until no other thread is in a
// command session and keeps every other thread out of one from then on, so that nothing is
// released under a command. Does not wait when the calling thread holds the lock itself.
void ClaimCommandLockForEnd();

// --- Commands ---

struct ScsiCommand {
    std::span<const std::uint8_t> cdb;  // 6, 10 or 12 bytes
    DataDirection direction = DataDirection::none;
    std::uint32_t transferLength = 0;       // bytes moved, at most transferBufferBytes
    std::span<const std::uint8_t> dataOut;  // copied to the buffer's start for data-out
    std::uint32_t clearDataBytes = 0;       // buffer bytes zeroed before the command
};

inline constexpr std::uint8_t senseKeyNotReady = 0x02;
inline constexpr std::uint8_t senseKeyMediumError = 0x03;
inline constexpr std::uint8_t ascMediumNotPresent = 0x3A;

// The drive's answer. Sense fields are filled for a check condition only, from fixed-format
// sense data: key (byte 2, low nibble), ASC (byte 12), ASCQ (byte 13).
struct CommandResult {
    std::uint8_t status = 0;  // aspi::status...: 1 completed, 4 check condition, others failed
    std::uint8_t hostStatus = 0;
    std::uint8_t targetStatus = 0;
    std::uint8_t senseKey = 0;
    std::uint8_t asc = 0;
    std::uint8_t ascq = 0;
    std::optional<std::uint32_t> residual;  // data bytes not moved, where the path counts them
    runtime::Microseconds elapsed{0};       // from the send to the end of the wait

    // The command completed; for replies with an allocation length, a short one is normal.
    [[nodiscard]] bool Succeeded() const { return status == aspi::statusCompleted; }
    // Fewer (or more) bytes moved than asked for, by the path's count or its host status.
    [[nodiscard]] bool TransferShort() const {
        return residual.has_value() ? *residual > 0 : hostStatus == aspi::hostDataOverrunUnderrun;
    }
    // The command completed and moved every byte it asked for: what a read must do to count.
    [[nodiscard]] bool SucceededInFull() const { return Succeeded() && !TransferShort(); }
    // The drive could not read the medium there (sense key 3), as opposed to refusing a command.
    [[nodiscard]] bool MediumError() const {
        return status == aspi::statusCheckCondition && senseKey == senseKeyMediumError;
    }
    // No answer at all, or NOT READY (the disc gone, the tray open): the drive can read nothing
    // more, unlike a medium error at one place.
    [[nodiscard]] bool DriveLost() const {
        return status != aspi::statusCompleted &&
               (status != aspi::statusCheckCondition || senseKey == senseKeyNotReady);
    }
};

// Holds commandLock for its lifetime; the transfer buffer is the caller's meanwhile.
class CommandSession {
public:
    CommandSession();
    ~CommandSession();
    CommandSession(const CommandSession&) = delete;
    CommandSession& operator=(const CommandSession&) = delete;

    // Sends one command and waits for its end, whatever the path.
    [[nodiscard]] CommandResult Run(const DriveRecord& drive, const ScsiCommand& command);
    // The whole transfer buffer: data-in replies start at its first byte.
    [[nodiscard]] std::span<std::uint8_t, transferBufferBytes> Data();
};

template <typename ReadReply>
CommandResult CommandCycle(const DriveRecord& drive, const ScsiCommand& command,
                           ReadReply&& readReply) {
    CommandSession session;
    const CommandResult result = session.Run(drive, command);
    std::span<const std::uint8_t> data = session.Data().first(command.transferLength);
    readReply(result, data);
    return result;
}

}  // namespace drive
