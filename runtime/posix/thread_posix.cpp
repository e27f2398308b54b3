// POSIX backend of the runtime's threads.
#include <pthread.h>
#include <sched.h>
#include <time.h>

#include <algorithm>
#include <cerrno>

#include "runtime/platform.h"

namespace runtime::platform {
namespace {

// The programs name the stack sizes their Windows threads get; Linux threads need more
// room for the C library and, in checked builds, the sanitizers' bookkeeping.
constexpr std::size_t minimumStackSize = 256 * 1024;

void* RunThread(void* record) {
    RunStartedThread(record);
    return nullptr;
}

pthread_t Handle(const OsThread& thread) {
    return static_cast<pthread_t>(thread.handle);
}

}  // namespace

bool CreateOsThread(OsThread& thread, void* record, std::size_t stackSize, bool joinable) {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, std::max(stackSize, minimumStackSize));
    if (!joinable) {
        pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    }
    pthread_t handle{};
    const int error = pthread_create(&handle, &attributes, RunThread, record);
    pthread_attr_destroy(&attributes);
    thread.handle = static_cast<std::uintptr_t>(handle);
    return error == 0;
}

void YieldToOtherThreads() {
    sched_yield();
}

std::uint64_t CurrentThreadId() {
    return static_cast<std::uint64_t>(pthread_self());
}

bool IsCurrentThread(const OsThread& thread) {
    return pthread_equal(Handle(thread), pthread_self()) != 0;
}

WaitStatus JoinOsThread(OsThread& thread, std::chrono::milliseconds timeout) {
    int error = 0;
    if (timeout < std::chrono::milliseconds::zero()) {
        error = pthread_join(Handle(thread), nullptr);
    } else {
        timespec deadline{};
        clock_gettime(CLOCK_REALTIME, &deadline);
        const auto total = std::chrono::nanoseconds(deadline.tv_nsec) + timeout;
        deadline.tv_sec += std::chrono::duration_cast<std::chrono::seconds>(total).count();
        deadline.tv_nsec = (total % std::chrono::seconds(1)).count();
        error = pthread_timedjoin_np(Handle(thread), nullptr, &deadline);
    }
    if (error == ETIMEDOUT) {
        return WaitStatus::timedOut;
    }
    return error == 0 ? WaitStatus::ended : WaitStatus::failed;
}

}  // namespace runtime::platform
