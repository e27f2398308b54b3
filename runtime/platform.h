// The operations each OS backend of the runtime provides (runtime/posix/, runtime/win32/).
// Only the runtime's own portable files include this.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "runtime/thread.h"

namespace runtime::platform {

// Binds the standard channels and installs the fault handlers; once, at start-up.
void InitProcess(int argc, char** argv);

// The console channel: absent (output discarded), a character device, or a file or pipe.
enum class ConsoleKind { none, characterDevice, redirected };
[[nodiscard]] ConsoleKind ProbeConsole();
// The platform's line end: a line feed here, carriage return and line feed on Windows.
extern const std::string_view lineEnd;

// Writes everything or gives up silently: a console that went away is not an error.
void WriteConsole(std::string_view bytes);

// The caption of every runtime error report.
inline constexpr std::string_view errorReportCaption = "Unhandled exception";
// Shows the report "at <where> -> <name>" under the caption: on standard error here, in a
// message box on Windows. Returns once the user has seen it.
void ShowErrorReport(std::string_view text);

// The command line without the program name, as the programs split it themselves.
void CommandTail(std::span<char> buffer);

[[nodiscard]] std::int32_t LocalMillisecondsSinceMidnight();

[[noreturn]] void ExitProcess(std::int32_t exitCode);

// Ends the process with `exitCode` once `delay` has passed, whatever its threads are doing
// then: the backstop that keeps a fatal error's ending from hanging.
void ArmExitDeadline(std::chrono::milliseconds delay, std::int32_t exitCode);

// Blocks the calling thread until the process ends.
[[noreturn]] void WaitForProcessEnd();

}  // namespace runtime::platform

namespace runtime::platform {

// An OS thread as the portable thread record keeps it.
struct OsThread {
    std::uintptr_t handle = 0;
    std::uint32_t id = 0;
};

// Starts a thread that calls RunStartedThread(record). A thread that is not joinable releases
// its OS resources itself when it ends.
[[nodiscard]] bool CreateOsThread(OsThread& thread, void* record, std::size_t stackSize,
                                  bool joinable);
// Portable: what every started thread runs (implemented in thread.cpp).
void RunStartedThread(void* record);
void YieldToOtherThreads();
// Never 0, unique among the process's live threads.
[[nodiscard]] std::uint64_t CurrentThreadId();
[[nodiscard]] bool IsCurrentThread(const OsThread& thread);
// Waits for a joinable thread; on `ended` its OS resources are released.
[[nodiscard]] WaitStatus JoinOsThread(OsThread& thread, std::chrono::milliseconds timeout);

}  // namespace runtime::platform
