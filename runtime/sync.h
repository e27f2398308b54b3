// Locks and events of the two programs' threads.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>

namespace runtime {

class CriticalSection {
public:
    CriticalSection();
    ~CriticalSection();
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    void Enter();
    void Leave();
    // Lets a fatal error's ending tell its own lock from one another thread holds.
    [[nodiscard]] bool HeldByCurrentThread() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
    std::atomic<std::uint64_t> owner_{0};  // 0 while free
};

class ScopedLock {
public:
    explicit ScopedLock(CriticalSection& lock) : lock_(lock) { lock_.Enter(); }
    ~ScopedLock() { lock_.Leave(); }
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;

private:
    CriticalSection& lock_;
};

enum class ResetMode {
    manual,     // stays signalled until Reset
    automatic,  // a satisfied wait resets it
};

// Created non-signalled.
class Event {
public:
    explicit Event(ResetMode mode);
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();
    void Reset();
    void Wait();
    // False when the time ran out first.
    [[nodiscard]] bool WaitFor(std::chrono::milliseconds timeout);

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace runtime
