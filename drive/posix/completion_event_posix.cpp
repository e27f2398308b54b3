// The completion event on Linux: an eventfd, non-blocking, so that draining never waits.
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "drive/completion_event.h"

namespace drive {
namespace {

// The request block carries the descriptor itself as a pointer-sized integer.
int Descriptor(void* handle) {
    return static_cast<int>(reinterpret_cast<std::intptr_t>(handle));
}

void* HandleOf(int descriptor) {
    return reinterpret_cast<void*>(static_cast<std::intptr_t>(descriptor));
}

// Takes the counter to zero; true when it was non-zero.
bool Drain(int descriptor) {
    std::uint64_t count = 0;
    while (true) {
        const ssize_t got = read(descriptor, &count, sizeof count);
        if (got == sizeof count) {
            return true;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        return false;
    }
}

}  // namespace

bool CompletionEvent::Create() {
    Close();
    const int descriptor = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (descriptor < 0) {
        return false;
    }
    handle_ = HandleOf(descriptor);
    open_ = true;
    return true;
}

void CompletionEvent::Close() {
    if (open_) {
        close(Descriptor(handle_));
        handle_ = nullptr;
        open_ = false;
    }
}

void CompletionEvent::Signal(void* handle) {
    const std::uint64_t one = 1;
    while (write(Descriptor(handle), &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void CompletionEvent::Reset(void* handle) {
    (void)Drain(Descriptor(handle));
}

void CompletionEvent::WaitOn(void* handle) {
    const int descriptor = Descriptor(handle);
    // Another waiter may take the signal between poll and read; then wait again.
    do {
        pollfd readable{descriptor, POLLIN, 0};
        while (poll(&readable, 1, -1) < 0 && errno == EINTR) {
        }
    } while (!Drain(descriptor));
}

bool CompletionEvent::IsSignalled(void* handle) {
    pollfd readable{Descriptor(handle), POLLIN, 0};
    return poll(&readable, 1, 0) > 0 && (readable.revents & POLLIN) != 0;
}

}  // namespace drive
