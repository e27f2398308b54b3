// The stand-in manager library: the simulated drives of a description file served through
// both managers' entry pairs, as drive/aspi_contract.h lays the contract down.
//
// Environment (read by this library only):
//   SIMDRIVE_DESCRIPTION     the drive description file to serve
//   SIMDRIVE_ASPI_COMPLETION "late" (default): execute requests complete on the library's
//                            thread a little after the send returned; "early": before the send
//                            returns; "alternate": early, late, early, ...
//   SIMDRIVE_ASPI_LOG        a file to which each support query appends the entry it came by
//   SIMDRIVE_ASPI_COMMANDS   a file to which each execute request appends its CDB (and the
//                            data of a data-out request) in hex, one line each
//   SIMDRIVE_ASPI_FAULT_AT   a sector: a read (READ CD, 0xD8 or READ(10)) that starts there or
//                            later makes this library fault in the caller's thread, an access
//                            violation as a broken manager would cause
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "manager_server.h"
#include "standin_event.h"

namespace {

standin::Completion CompletionFromEnvironment() {
    const char* text = std::getenv("SIMDRIVE_ASPI_COMPLETION");
    const std::string_view mode = text != nullptr ? text : "";
    if (mode == "early") {
        return standin::Completion::early;
    }
    if (mode == "alternate") {
        return standin::Completion::alternate;
    }
    return standin::Completion::late;
}

std::optional<simdrive::DriveSet> DrivesFromEnvironment() {
    const char* path = std::getenv("SIMDRIVE_DESCRIPTION");
    if (path == nullptr || *path == '\0') {
        std::fprintf(stderr, "simulated drive manager: SIMDRIVE_DESCRIPTION is not set\n");
        return std::nullopt;
    }
    std::string error;
    auto drives = simdrive::DriveSet::Load(path, simdrive::LoadOptions::FromEnvironment(), error);
    if (!drives.has_value()) {
        std::fprintf(stderr, "simulated drive manager: %s\n", error.c_str());
        return drives;
    }
    if (const standin::HostClockAdvance advance = standin::FindHostClock()) {
        for (std::size_t i = 0; i < drives->Count(); ++i) {
            drives->At(i).SetDelay([advance](std::chrono::milliseconds time) {
                advance(static_cast<std::uint32_t>(time.count()));
            });
        }
    }
    return drives;
}

std::string CommandLogFromEnvironment() {
    const char* path = std::getenv("SIMDRIVE_ASPI_COMMANDS");
    return path != nullptr ? path : "";
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

std::int64_t FaultSectorFromEnvironment() {
    const char* text = std::getenv("SIMDRIVE_ASPI_FAULT_AT");
    return text != nullptr && *text != '\0' ? std::strtoll(text, nullptr, 10) : -1;
}

void FaultIfAsked(const void* requestBlock) {
    static const std::int64_t faultAt = FaultSectorFromEnvironment();
    const auto* block = static_cast<const aspi::SRB_ExecSCSICmd*>(requestBlock);
    if (faultAt < 0 || block == nullptr || block->SRB_Cmd != aspi::commandExecute) {
        return;
    }
    const std::uint8_t operation = block->CDBByte[0];
    if (operation != 0xBE && operation != 0xD8 && operation != 0x28) {
        return;
    }
    const std::int64_t lba = std::int64_t{block->CDBByte[2]} << 24 | block->CDBByte[3] << 16 |
                             block->CDBByte[4] << 8 | block->CDBByte[5];
    if (lba >= faultAt) {
        // An address no process maps: a store there is an access violation, on every platform.
        // Read from a volatile, so the compiler cannot see the address it is.
        const volatile std::uintptr_t unmapped = 16;
        *reinterpret_cast<volatile int*>(unmapped) = 1;
    }
}

// Made on first use; where the platform allows, its destructor, run when the library is
// unloaded, stops its thread.
standin::ManagerServer& Server() {
    standin::KeepLoadedWhileServing();
    static auto server = std::make_unique<standin::ManagerServer>(
        DrivesFromEnvironment(), CompletionFromEnvironment(), CommandLogFromEnvironment());
    static const struct Keeper {
        ~Keeper() {
            if (!standin::stopServerAtUnload) {
                (void)server.release();
            }
        }
    } keeper;
    return *server;
}

}  // namespace

#if defined(_WIN32)
#define STANDIN_EXPORT extern "C" __declspec(dllexport)
#else
#define STANDIN_EXPORT extern "C" __attribute__((visibility("default")))
#endif

STANDIN_EXPORT std::uint32_t GetASPI32SupportInfo() {
    LogEntry("GetASPI32SupportInfo");
    return Server().SupportInfo();
}

STANDIN_EXPORT std::uint32_t SendASPI32Command(void* requestBlock) {
    FaultIfAsked(requestBlock);
    return Server().Send(requestBlock);
}

STANDIN_EXPORT std::uint32_t GetASAPI32SupportInfo() {
    LogEntry("GetASAPI32SupportInfo");
    return Server().SupportInfo();
}

// This manager's send answers one less than the status.
STANDIN_EXPORT std::uint32_t SendASAPI32Command(void* requestBlock) {
    FaultIfAsked(requestBlock);
    return Server().Send(requestBlock) - 1;
}
