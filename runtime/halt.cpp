#include "runtime/halt.h"

#include <atomic>

#include "runtime/console.h"
#include "runtime/platform.h"

namespace runtime {
namespace {

std::atomic<TerminationProc> currentTermination{nullptr};

}  // namespace

TerminationProc InstallTermination(TerminationProc procedure) {
    return currentTermination.exchange(procedure);
}

void RunTerminationChain() {
    while (TerminationProc procedure = currentTermination.exchange(nullptr)) {
        procedure();
    }
}

void Halt(std::int32_t exitCode) {
    RunTerminationChain();
    FlushConsole();
    platform::ExitProcess(exitCode);
}

}  // namespace runtime
