// Win32 backend of the runtime's threads.
#include <windows.h>

#include <float.h>

#include <algorithm>
#include <atomic>
#include <new>

#include "runtime/thread.h"

namespace runtime {

struct Thread {
    HANDLE handle = nullptr;
    DWORD id = 0;
    ThreadProc procedure = nullptr;
    std::intptr_t parameter = 0;
    bool keep = false;
    std::atomic<bool>* started = nullptr;  // the starter's flag, valid until it is set
    std::int32_t result = 0;
};

namespace {

constexpr std::size_t defaultStackSize = 32'768;

DWORD WINAPI RunThread(void* argument) {
    // Windows starts threads at 53-bit precision; the programs' arithmetic is defined at the
    // 64-bit precision the main thread runs at, as on Linux.
    _control87(_PC_64 | _RC_NEAR | _MCW_EM, _MCW_PC | _MCW_RC | _MCW_EM);
    auto* thread = static_cast<Thread*>(argument);
    thread->started->store(true, std::memory_order_release);
    const std::int32_t result = thread->procedure(thread->parameter);
    if (thread->keep) {
        thread->result = result;
    } else {
        delete thread;
    }
    return static_cast<DWORD>(result);
}

}  // namespace

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

    SECURITY_ATTRIBUTES notInherited{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
    const HANDLE handle =
        ::CreateThread(&notInherited, stackSize == 0 ? defaultStackSize : stackSize, RunThread,
                       record, 0, &record->id);
    if (handle == nullptr) {
        delete record;
        return false;
    }
    if (keep) {
        record->handle = handle;
    }
    while (!started.load(std::memory_order_acquire)) {
        ::SwitchToThread();
    }
    // A record without `keep` may already be gone; the caller gets no reference to it.
    if (keep) {
        thread = record;
    } else {
        ::CloseHandle(handle);
    }
    return true;
}

WaitStatus WaitThread(Thread*& thread, std::chrono::milliseconds timeout, std::int32_t& result) {
    if (thread == nullptr || !thread->keep || thread->id == ::GetCurrentThreadId()) {
        return WaitStatus::failed;
    }
    const DWORD milliseconds = timeout < std::chrono::milliseconds::zero()
                                   ? INFINITE
                                   : static_cast<DWORD>(std::min<std::chrono::milliseconds::rep>(
                                         timeout.count(), INFINITE - 1));
    DWORD outcome = WAIT_IO_COMPLETION;
    while (outcome == WAIT_IO_COMPLETION) {
        outcome = ::WaitForSingleObjectEx(thread->handle, milliseconds, TRUE);
    }
    switch (outcome) {
        case WAIT_OBJECT_0:
            break;
        case WAIT_ABANDONED:
            return WaitStatus::abandoned;
        case WAIT_TIMEOUT:
            return WaitStatus::timedOut;
        default:
            return WaitStatus::failed;
    }
    result = thread->result;
    ::CloseHandle(thread->handle);
    delete thread;
    thread = nullptr;
    return WaitStatus::ended;
}

}  // namespace runtime
