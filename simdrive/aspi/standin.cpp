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
    return Server().Send(requestBlock);
}

STANDIN_EXPORT std::uint32_t GetASAPI32SupportInfo() {
    LogEntry("GetASAPI32SupportInfo");
    return Server().SupportInfo();
}

// This manager's send answers one less than the status.
STANDIN_EXPORT std::uint32_t SendASAPI32Command(void* requestBlock) {
    return Server().Send(requestBlock) - 1;
}
