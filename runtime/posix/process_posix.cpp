// POSIX backend: process start-up, console channel, fault report, clock and exit.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <span>

#include "runtime/command_line.h"
#include "runtime/console.h"
#include "runtime/platform.h"
#include "runtime/runtime.h"

namespace runtime::platform {
namespace {

int argumentCount = 0;
char** argumentValues = nullptr;

// Room for the fault handler to run when the fault was the stack running out.
alignas(16) std::array<std::byte, 64 * 1024> faultStack;

// Async-signal-safe: no allocation, no locks, no stdio.
void WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}

std::string_view FaultName(int signal, int code) {
    switch (signal) {
        case SIGSEGV:
        case SIGBUS:
            return "ACCESS_VIOLATION";
        case SIGILL:
            if (code == ILL_PRVOPC && CurrentDialect() == Dialect::tamblin) {
                return "PRIVILEGED_INSTRUCTION";
            }
            return "ILLEGAL_INSTRUCTION";
        case SIGFPE:
            switch (code) {
                case FPE_INTDIV:
                case FPE_FLTDIV:
                    return "DIVIDE_BY_ZERO";
                case FPE_FLTOVF:
                    return "FLOAT_OVERFLOW";
                case FPE_FLTUND:
                    return "FLOAT_UNDERFLOW";
                case FPE_FLTRES:
                    return "FLOAT_INEXACT";
                case FPE_INTOVF:
                    return "INTEGER_OVERFLOW";
                default:
                    return "FLOAT_INVALID_OPERATION";
            }
        default:
            return "FAULT";
    }
}

// The report of a processor fault names the faulting address, as no source line is known.
// Console output collected so far is written first, so a redirected console keeps it. The
// termination procedures are not run: they take locks, free heap blocks and wait for other
// threads, none of which is safe in a signal handler that may have interrupted the very lock
// or heap the fault left half-changed; the OS reclaims everything they would release.
void OnFault(int signal, siginfo_t* info, void*) {
    FlushConsoleAtFault();
    std::array<char, 2 * sizeof(std::uintptr_t)> hex{};
    auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
    for (std::size_t i = hex.size(); i-- > 0; address >>= 4) {
        hex[i] = "0123456789ABCDEF"[address & 0xF];
    }
    WriteAll(STDERR_FILENO, errorReportCaption);
    WriteAll(STDERR_FILENO, "\nat ");
    WriteAll(STDERR_FILENO, {hex.data(), hex.size()});
    WriteAll(STDERR_FILENO, " -> ");
    WriteAll(STDERR_FILENO, FaultName(signal, info->si_code));
    WriteAll(STDERR_FILENO, "\n");
    ::_exit(255);
}

void InstallFaultHandlers() {
    stack_t alternate{};
    alternate.ss_sp = faultStack.data();
    alternate.ss_size = faultStack.size();
    ::sigaltstack(&alternate, nullptr);

    struct sigaction action {};
    action.sa_sigaction = OnFault;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGSEGV, SIGBUS, SIGILL, SIGFPE}) {
        ::sigaction(signal, &action, nullptr);
    }
}

}  // namespace

const std::string_view lineEnd = "\n";

void InitProcess(int argc, char** argv) {
    argumentCount = argc;
    argumentValues = argv;
    // A console reader that went away must not kill the program mid-write: the write
    // fails with EPIPE instead, and the console discards it.
    ::signal(SIGPIPE, SIG_IGN);
    InstallFaultHandlers();
}

ConsoleKind ProbeConsole() {
    struct stat status {};
    if (::fstat(STDOUT_FILENO, &status) != 0) {
        return ConsoleKind::none;
    }
    return S_ISCHR(status.st_mode) ? ConsoleKind::characterDevice : ConsoleKind::redirected;
}

void WriteConsole(std::string_view bytes) {
    WriteAll(STDOUT_FILENO, bytes);
}

void ShowErrorReport(std::string_view text) {
    WriteAll(STDERR_FILENO, errorReportCaption);
    WriteAll(STDERR_FILENO, lineEnd);
    WriteAll(STDERR_FILENO, text);
    WriteAll(STDERR_FILENO, lineEnd);
}

// Linux hands over the arguments already split by the shell, quotes removed; they are
// joined again into one tail, quoting what holds a space or is empty, so that splitting
// the tail gives back what the user typed.
void CommandTail(std::span<char> buffer) {
    const std::span<const char* const> arguments =
        argumentCount > 1 ? std::span<const char* const>(
                                argumentValues + 1, static_cast<std::size_t>(argumentCount - 1))
                          : std::span<const char* const>();
    BuildCommandTail(arguments, buffer);
}

std::int32_t LocalMillisecondsSinceMidnight() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    ::localtime_r(&now.tv_sec, &local);
    return ((local.tm_hour * 60 + local.tm_min) * 60 + local.tm_sec) * 1000 +
           static_cast<std::int32_t>(now.tv_nsec / 1'000'000);
}

void ExitProcess(std::int32_t exitCode) {
    std::_Exit(exitCode);
}

namespace {

std::atomic<std::int32_t> deadlineExitCode{0};

void OnExitDeadline(int) {
    ::_exit(deadlineExitCode.load());
}

}  // namespace

void ArmExitDeadline(std::chrono::milliseconds delay, std::int32_t exitCode) {
    deadlineExitCode.store(exitCode);
    struct sigaction action {};
    action.sa_handler = OnExitDeadline;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGALRM, &action, nullptr);
    // Whichever thread the signal reaches ends the process; none may block it.
    sigset_t alarmOnly;
    sigemptyset(&alarmOnly);
    sigaddset(&alarmOnly, SIGALRM);
    ::pthread_sigmask(SIG_UNBLOCK, &alarmOnly, nullptr);
    itimerval timer{};
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(delay).count();
    timer.it_value.tv_sec = static_cast<time_t>(micros / 1'000'000);
    timer.it_value.tv_usec = static_cast<suseconds_t>(micros % 1'000'000);
    ::setitimer(ITIMER_REAL, &timer, nullptr);
}

void WaitForProcessEnd() {
    for (;;) {
        ::pause();
    }
}

}  // namespace runtime::platform
