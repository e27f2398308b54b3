// A manager library whose own thread, started by its first request, completes requests and runs
// on in the library's code after the last one, until the process ends: what a real manager may
// do. Its code must stay mapped after the drive layer lets go of it.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

#include "drive/aspi_contract.h"

namespace {

std::atomic<aspi::SRB_ExecSCSICmd*> waiting{nullptr};
std::atomic<std::uint64_t> rounds{0};

[[noreturn]] void Serve() {
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (aspi::SRB_ExecSCSICmd* block = waiting.exchange(nullptr)) {
            std::atomic_ref<std::uint8_t>(block->SRB_Status).store(aspi::statusCompleted);
        }
        rounds.fetch_add(1);
    }
}

void StartOnce() {
    static const bool started = [] {
        std::thread(Serve).detach();
        return true;
    }();
    (void)started;
}

}  // namespace

#if defined(_WIN32)
#define LINGERING_EXPORT extern "C" __declspec(dllexport)
#else
#define LINGERING_EXPORT extern "C" __attribute__((visibility("default")))
#endif

LINGERING_EXPORT std::uint32_t GetASPI32SupportInfo() {
    StartOnce();
    return aspi::SupportWord(aspi::statusCompleted, 0);
}

// Execute requests complete on the library's thread; nothing else is asked of it.
LINGERING_EXPORT std::uint32_t SendASPI32Command(void* requestBlock) {
    StartOnce();
    auto* block = static_cast<aspi::SRB_ExecSCSICmd*>(requestBlock);
    block->SRB_Status = aspi::statusPending;
    waiting.store(block);
    return aspi::statusPending;
}
