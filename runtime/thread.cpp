#include "runtime/thread.h"

#include <atomic>
#include <new>

#include "runtime/platform.h"

namespace runtime {

struct Thread {
    platform::OsThread os;  // set for kept threads only, once they run
    ThreadProc procedure = nullptr;
    std::intptr_t parameter = 0;
    bool keep = false;
    std::atomic<bool>* started = nullptr;  // the starter's flag, valid until it is set
    std::int32_t result = 0;
};

namespace {

constexpr std::size_t defaultStackSize = 32'768;

}  // namespace

void platform::RunStartedThread(void* record) {
    auto* thread = static_cast<Thread*>(record);
    thread->started->store(true, std::memory_order_release);
    const std::int32_t result = thread->procedure(thread->parameter);
    if (thread->keep) {
        thread->result = result;
    } else {
        delete thread;
    }
}

bool StartThread(Thread*& thread, ThreadProc procedure, std::intptr_t parameter,
                 std::size_t stackSize, bool keep) {
    thread = nullptr;
    auto* record = new (std::nothrow) Thread;
    if (record == nullptr) {
        return false;
    }
    record->procedure = procedure;
    record->parameter = parameter;
    record->keep = keep;
    std::atomic<bool> started{false};
    record->started = &started;
    platform::OsThread os;
    if (!platform::CreateOsThread(os, record, stackSize == 0 ? defaultStackSize : stackSize,
                                  keep)) {
        delete record;
        return false;
    }
    while (!started.load(std::memory_order_acquire)) {
        platform::YieldToOtherThreads();
    }
    // A record without `keep` may already be gone; the caller gets no reference to it.
    if (keep) {
        record->os = os;
        thread = record;
    }
    return true;
}

WaitStatus WaitThread(Thread*& thread, std::chrono::milliseconds timeout, std::int32_t& result) {
    if (thread == nullptr || !thread->keep || platform::IsCurrentThread(thread->os)) {
        return WaitStatus::failed;
    }
    const WaitStatus status = platform::JoinOsThread(thread->os, timeout);
    if (status == WaitStatus::ended) {
        result = thread->result;
        delete thread;
        thread = nullptr;
    }
    return status;
}

}  // namespace runtime
