// Win32 backend of the runtime's threads.
#include <windows.h>

#include <float.h>

#include <algorithm>

#include "runtime/platform.h"

namespace runtime::platform {
namespace {

DWORD WINAPI RunThread(void* record) {
    // Windows starts threads at 53-bit precision; the programs' arithmetic is defined at the
    // 64-bit precision the main thread runs at, as on Linux.
    _control87(_PC_64 | _RC_NEAR | _MCW_EM, _MCW_PC | _MCW_RC | _MCW_EM);
    RunStartedThread(record);
    return 0;
}

HANDLE Handle(const OsThread& thread) {
    return reinterpret_cast<HANDLE>(thread.handle);
}

}  // namespace

bool CreateOsThread(OsThread& thread, void* record, std::size_t stackSize, bool joinable) {
    SECURITY_ATTRIBUTES notInherited{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
    DWORD id = 0;
    const HANDLE handle = ::CreateThread(&notInherited, stackSize, RunThread, record, 0, &id);
    if (handle == nullptr) {
        return false;
    }
    if (!joinable) {
        ::CloseHandle(handle);  // the thread runs on and ends by itself
    }
    thread.handle = joinable ? reinterpret_cast<std::uintptr_t>(handle) : 0;
    thread.id = id;
    return true;
}

void YieldToOtherThreads() {
    ::SwitchToThread();
}

std::uint64_t CurrentThreadId() {
    return ::GetCurrentThreadId();
}

bool IsCurrentThread(const OsThread& thread) {
    return thread.id == ::GetCurrentThreadId();
}

WaitStatus JoinOsThread(OsThread& thread, std::chrono::milliseconds timeout) {
    const DWORD milliseconds = timeout < std::chrono::milliseconds::zero()
                                   ? INFINITE
                                   : static_cast<DWORD>(std::min<std::chrono::milliseconds::rep>(
                                         timeout.count(), INFINITE - 1));
    DWORD outcome = WAIT_IO_COMPLETION;
    while (outcome == WAIT_IO_COMPLETION) {
        outcome = ::WaitForSingleObjectEx(Handle(thread), milliseconds, TRUE);
    }
    switch (outcome) {
        case WAIT_OBJECT_0:
            ::CloseHandle(Handle(thread));
            return WaitStatus::ended;
        case WAIT_ABANDONED:
            return WaitStatus::abandoned;
        case WAIT_TIMEOUT:
            return WaitStatus::timedOut;
        default:
            return WaitStatus::failed;
    }
}

}  // namespace runtime::platform
