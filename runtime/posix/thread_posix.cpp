// POSIX backend of the runtime's threads.
#include <pthread.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <new>
#include <thread>

#include "runtime/thread.h"

namespace runtime {

struct Thread {
    pthread_t handle{};
    ThreadProc procedure = nullptr;
    std::intptr_t parameter = 0;
    bool keep = false;
    std::atomic<bool>* started = nullptr;  // the starter's flag, valid until it is set
    std::int32_t result = 0;
};

namespace {

constexpr std::size_t defaultStackSize = 32'768;
// The programs name the stack sizes their Windows threads get; Linux threads need more
// room for the C library and, in checked builds, the sanitizers' bookkeeping.
constexpr std::size_t minimumStackSize = 256 * 1024;

void* RunThread(void* argument) {
    auto* thread = static_cast<Thread*>(argument);
    thread->started->store(true, std::memory_order_release);
    const std::int32_t result = thread->procedure(thread->parameter);
    if (thread->keep) {
        thread->result = result;
    } else {
        delete thread;
    }
    return nullptr;
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

    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(
        &attributes, std::max(stackSize == 0 ? defaultStackSize : stackSize, minimumStackSize));
    if (!keep) {
        pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    }
    const int error = pthread_create(&record->handle, &attributes, RunThread, record);
    pthread_attr_destroy(&attributes);
    if (error != 0) {
        delete record;
        return false;
    }
    while (!started.load(std::memory_order_acquire)) {
        std::this_thread::yield();
    }
    // A record without `keep` may already be gone; the caller gets no reference to it.
    if (keep) {
        thread = record;
    }
    return true;
}

WaitStatus WaitThread(Thread*& thread, std::chrono::milliseconds timeout, std::int32_t& result) {
    if (thread == nullptr || !thread->keep || pthread_equal(thread->handle, pthread_self())) {
        return WaitStatus::failed;
    }
    int error = 0;
    if (timeout < std::chrono::milliseconds::zero()) {
        error = pthread_join(thread->handle, nullptr);
    } else {
        timespec deadline{};
        clock_gettime(CLOCK_REALTIME, &deadline);
        const auto total = std::chrono::nanoseconds(deadline.tv_nsec) + timeout;
        deadline.tv_sec += std::chrono::duration_cast<std::chrono::seconds>(total).count();
        deadline.tv_nsec = (total % std::chrono::seconds(1)).count();
        error = pthread_timedjoin_np(thread->handle, nullptr, &deadline);
    }
    if (error == ETIMEDOUT) {
        return WaitStatus::timedOut;
    }
    if (error != 0) {
        return WaitStatus::failed;
    }
    result = thread->result;
    delete thread;
    thread = nullptr;
    return WaitStatus::ended;
}

}  // namespace runtime
