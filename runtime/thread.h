// Threads started by the programs: the writer and the native transport's worker.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace runtime {

using ThreadProc = std::int32_t (*)(std::intptr_t parameter);

struct Thread;  // the thread record, owned by the runtime

inline constexpr std::chrono::milliseconds waitForever{-1};

// Returns once the new thread runs. With `keep` the record outlives the thread until
// WaitThread collects it; without, it goes when the procedure returns and `thread` is null.
// A stack size of 0 means 32,768 bytes; the backend may raise it to its platform's minimum.
[[nodiscard]] bool StartThread(Thread*& thread, ThreadProc procedure, std::intptr_t parameter,
                               std::size_t stackSize, bool keep);

enum class WaitStatus : std::uint8_t { ended = 0, abandoned = 1, timedOut = 2, failed = 3 };

// Waits for a kept thread; on `ended`, `result` holds its procedure's value, the record is
// released and `thread` is null. A negative timeout waits without limit.
[[nodiscard]] WaitStatus WaitThread(Thread*& thread, std::chrono::milliseconds timeout,
                                    std::int32_t& result);

}  // namespace runtime
