#include "tests/fuzz/scripted_manager.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

#include "drive/aspi_contract.h"
#include "drive/aspi_proc.h"
#include "runtime/halt.h"

namespace fuzzing {
namespace {

constexpr std::size_t answerHeaderBytes = 8;

struct Answer {
    std::uint8_t status = aspi::statusFailedInit;
    std::uint8_t detail = 0;
    std::uint8_t hostStatus = 0;
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

std::uint32_t Execute(aspi::SRB_ExecSCSICmd& block) {
    const bool dataIn = (block.SRB_Flags & aspi::flagDataIn) != 0;
    const Answer answer = TakeAnswer(dataIn ? block.SRB_BufLen : 0);
    std::copy(answer.data.begin(), answer.data.end(), block.SRB_BufPointer);
    std::array<std::uint8_t, 14> sense{};
    sense[0] = 0x70;
    sense[2] = answer.senseKey;
    sense[7] = 10;
    sense[12] = answer.asc;
    sense[13] = answer.ascq;
    std::memcpy(block.SenseArea, sense.data(), std::min<std::size_t>(block.SRB_SenseLen, 14));
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

}  // namespace

void AbortOnRuntimeError() {
    (void)runtime::InstallTermination([] { std::abort(); });
}

void StartScriptedManager() {
    AbortOnRuntimeError();
    if (!drive::CreateCommandState()) {
        std::abort();
    }
    drive::TransportPaths paths;
    paths.aspi = {ScriptedSupportInfo, ScriptedSend};
    (void)drive::SelectTransport(paths);
}

void SetScript(std::span<const std::uint8_t> input) {
    script = input;
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
