// POSIX backend of locks and events.
#include <condition_variable>
#include <mutex>

#include "runtime/platform.h"
#include "runtime/sync.h"

namespace runtime {

struct CriticalSection::Impl {
    std::mutex mutex;
};

CriticalSection::CriticalSection() : impl_(std::make_unique<Impl>()) {}
CriticalSection::~CriticalSection() = default;
void CriticalSection::Enter() {
    impl_->mutex.lock();
    owner_.store(platform::CurrentThreadId(), std::memory_order_relaxed);
}
bool CriticalSection::HeldByCurrentThread() const {
    return owner_.load(std::memory_order_relaxed) == platform::CurrentThreadId();
}
void CriticalSection::Leave() {
    owner_.store(0, std::memory_order_relaxed);
    impl_->mutex.unlock();
}

struct Event::Impl {
    explicit Impl(ResetMode resetMode) : mode(resetMode) {}
    std::mutex mutex;
    std::condition_variable changed;
    bool signalled = false;
    ResetMode mode;

    // Called with the mutex held, after a wait was satisfied.
    void Consume() {
        if (mode == ResetMode::automatic) {
            signalled = false;
        }
    }
};

Event::Event(ResetMode mode) : impl_(std::make_unique<Impl>(mode)) {}
Event::~Event() = default;

void Event::Set() {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->signalled = true;
    }
    impl_->changed.notify_all();
}

void Event::Reset() {
    std::lock_guard lock(impl_->mutex);
    impl_->signalled = false;
}

void Event::Wait() {
    std::unique_lock lock(impl_->mutex);
    impl_->changed.wait(lock, [this] { return impl_->signalled; });
    impl_->Consume();
}

bool Event::WaitFor(std::chrono::milliseconds timeout) {
    std::unique_lock lock(impl_->mutex);
    if (!impl_->changed.wait_for(lock, timeout, [this] { return impl_->signalled; })) {
        return false;
    }
    impl_->Consume();
    return true;
}

}  // namespace runtime
