#include "tests/fuzz/scripted_drive.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

#include <optional>

#include "drive/aspi_contract.h"
#include "drive/aspi_proc.h"
#include "drive/native_scsi.h"
#include "tests/fuzz/runtime_checks.h"

namespace fuzzing {
namespace {

constexpr std::size_t answerHeaderBytes = 8;
constexpr std::size_t senseBytes = 14;
constexpr std::uint8_t selectionTimeout = 0x11;

// The default answer is the one of a drive that is gone.
struct Answer {
    std::uint8_t status = aspi::statusFailedInit;
    std::uint8_t detail = 0;
    std::uint8_t hostStatus = selectionTimeout;
    std::uint8_t senseKey = 0;
    std::uint8_t asc = 0;
    std::uint8_t ascq = 0;
    std::span<const std::uint8_t> data;
};

std::span<const std::uint8_t> script;

// The next answer; `room` bounds the bytes it may deliver.
Answer TakeAnswer(std::size_t room) {
    if (script.empty()) {
        return Answer{};
    }
    std::array<std::uint8_t, answerHeaderBytes> header{};
    const std::size_t headerBytes = std::min(script.size(), header.size());
    std::copy_n(script.begin(), headerBytes, header.begin());
    script = script.subspan(headerBytes);
    const std::size_t declared = header[6] | std::size_t{header[7]} << 8;
    const std::size_t delivered = std::min({declared, room, script.size()});
    Answer answer{
        .status = header[0] == aspi::statusPending ? aspi::statusCompleted : header[0],
        .detail = header[1],
        .hostStatus = header[2],
        .senseKey = header[3],
        .asc = header[4],
        .ascq = header[5],
        .data = script.first(delivered),
    };
    script = script.subspan(delivered);
    return answer;
}

std::array<std::uint8_t, senseBytes> FixedSense(const Answer& answer) {
    std::array<std::uint8_t, senseBytes> sense{};
    sense[0] = 0x70;
    sense[2] = answer.senseKey;
    sense[7] = senseBytes - 8;
    sense[12] = answer.asc;
    sense[13] = answer.ascq;
    return sense;
}

std::uint32_t Execute(aspi::SRB_ExecSCSICmd& block) {
    const bool dataIn = (block.SRB_Flags & aspi::flagDataIn) != 0;
    const Answer answer = TakeAnswer(dataIn ? block.SRB_BufLen : 0);
    std::copy(answer.data.begin(), answer.data.end(), block.SRB_BufPointer);
    const auto sense = FixedSense(answer);
    std::copy_n(sense.begin(), std::min<std::size_t>(block.SRB_SenseLen, senseBytes),
                block.SenseArea);
    block.SRB_HaStat = answer.hostStatus;
    block.SRB_TargStat = answer.detail;
    // Completed before Send returns: the status is stored and nobody waits on the event.
    block.SRB_Status = answer.status;
    return answer.status;
}

std::uint32_t HostAdapterInquiry(aspi::SRB_HAInquiry& block) {
    const Answer answer = TakeAnswer(0);
    block.HA_Unique[3] = answer.detail;
    block.SRB_Status = answer.status;
    return answer.status;
}

std::uint32_t GetDeviceType(aspi::SRB_GDEVBlock& block) {
    const Answer answer = TakeAnswer(0);
    block.SRB_DeviceType = answer.detail;
    block.SRB_Status = answer.status;
    return answer.status;
}

std::uint32_t ScriptedSupportInfo() {
    const Answer answer = TakeAnswer(0);
    return aspi::SupportWord(answer.status, answer.detail);
}

std::uint32_t ScriptedSend(void* requestBlock) {
    aspi::SRB_Header header;
    std::memcpy(&header, requestBlock, sizeof header);
    switch (header.SRB_Cmd) {
        case aspi::commandExecute:
            return Execute(*static_cast<aspi::SRB_ExecSCSICmd*>(requestBlock));
        case aspi::commandHostAdapterInquiry:
            return HostAdapterInquiry(*static_cast<aspi::SRB_HAInquiry*>(requestBlock));
        case aspi::commandGetDeviceType:
            return GetDeviceType(*static_cast<aspi::SRB_GDEVBlock*>(requestBlock));
        default:
            return aspi::statusInvalidRequest;
    }
}

// One CD device at 0:0:0 whose answers come from the script; the native layer's worker calls
// it while the sender waits, so the script is never read by two threads at once.
class ScriptedDevices final : public drive::native::DeviceOs {
public:
    std::size_t ListCdDevices(std::span<drive::native::CdDevice> devices) override {
        devices[0].path = {'s', 'c', 'r', 'i', 'p', 't'};
        return 1;
    }
    drive::native::OpenResult Open(const char*) override { return {.handle = 1}; }
    std::optional<drive::native::ScsiAddress> QueryAddress(drive::native::DeviceHandle) override {
        return drive::native::ScsiAddress{.adapter = 0, .target = 0, .lun = 0};
    }
    std::optional<drive::native::Capabilities> QueryCapabilities(
        drive::native::DeviceHandle) override {
        return drive::native::Capabilities{.maximumTransferLength = 65'536};
    }
    drive::native::PassThroughReply PassThrough(
        drive::native::DeviceHandle, drive::native::PassThroughRequest& request) override {
        const bool dataIn = request.direction == drive::DataDirection::in;
        const Answer answer = TakeAnswer(dataIn ? request.length : 0);
        std::copy(answer.data.begin(), answer.data.end(), request.data);
        const auto sense = FixedSense(answer);
        std::copy_n(sense.begin(), std::min<std::size_t>(request.senseLength, senseBytes),
                    request.sense.begin());
        return {.delivered = answer.hostStatus == 0,
                .scsiStatus = answer.detail,
                .residual =
                    dataIn ? request.length - static_cast<std::uint32_t>(answer.data.size()) : 0};
    }
    void Close(drive::native::DeviceHandle) override {}
    void ReportOpenFailure(const char*, int) override {}
    void ReportReadOnly(const char*) override {}
};

// Declared after the devices, so that it stops before they go.
ScriptedDevices devices;
std::optional<drive::NativeScsi> native;

}  // namespace

void SetScript(std::span<const std::uint8_t> input) {
    script = input;
    drive::TransportPaths paths;
    if ((TakeScriptByte() & 1) == 0) {
        paths.aspi = {ScriptedSupportInfo, ScriptedSend};
    } else {
        paths.native = &*native;
    }
    (void)drive::SelectTransport(paths);
}

std::uint8_t TakeScriptByte() {
    if (script.empty()) {
        return 0;
    }
    const std::uint8_t value = script.front();
    script = script.subspan(1);
    return value;
}

}  // namespace fuzzing

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::AbortOnRuntimeError();
    if (!drive::CreateCommandState()) {
        std::abort();
    }
    fuzzing::native.emplace(fuzzing::devices);
    fuzzing::native->Start();
    return 0;
}
