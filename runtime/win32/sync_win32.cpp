// Win32 backend of locks and events.
#include <windows.h>

#include <algorithm>

#include "runtime/error.h"
#include "runtime/platform.h"
#include "runtime/sync.h"

namespace runtime {

struct CriticalSection::Impl {
    CRITICAL_SECTION section;
};

CriticalSection::CriticalSection() : impl_(std::make_unique<Impl>()) {
    ::InitializeCriticalSection(&impl_->section);
}
CriticalSection::~CriticalSection() {
    ::DeleteCriticalSection(&impl_->section);
}
void CriticalSection::Enter() {
    ::EnterCriticalSection(&impl_->section);
    owner_.store(platform::CurrentThreadId(), std::memory_order_relaxed);
}
bool CriticalSection::HeldByCurrentThread() const {
    return owner_.load(std::memory_order_relaxed) == platform::CurrentThreadId();
}
void CriticalSection::Leave() {
    owner_.store(0, std::memory_order_relaxed);
    ::LeaveCriticalSection(&impl_->section);
}

struct Event::Impl {
    HANDLE handle = nullptr;
};

// An event that cannot be made leaves the program unable to hand work between its threads.
Event::Event(ResetMode mode) : impl_(std::make_unique<Impl>()) {
    impl_->handle = ::CreateEventA(nullptr, mode == ResetMode::manual, FALSE, nullptr);
    if (impl_->handle == nullptr) {
        RuntimeError("WORKSPACE-OVERFLOW");
    }
}
Event::~Event() {
    ::CloseHandle(impl_->handle);
}

void Event::Set() {
    ::SetEvent(impl_->handle);
}

void Event::Reset() {
    ::ResetEvent(impl_->handle);
}

void Event::Wait() {
    ::WaitForSingleObject(impl_->handle, INFINITE);
}

bool Event::WaitFor(std::chrono::milliseconds timeout) {
    const auto milliseconds =
        std::clamp<std::chrono::milliseconds::rep>(timeout.count(), 0, INFINITE - 1);
    return ::WaitForSingleObject(impl_->handle, static_cast<DWORD>(milliseconds)) == WAIT_OBJECT_0;
}

}  // namespace runtime
