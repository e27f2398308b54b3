// Win32 backend: process start-up, console channel, fault report, clock and exit.
#include <windows.h>
// windows.h maps WriteConsole to its ANSI or wide console call; ours is the runtime's own.
#undef WriteConsole

#include <float.h>

#include <array>
#include <cstdint>
#include <span>

#include "runtime/command_line.h"
#include "runtime/console.h"
#include "runtime/platform.h"
#include "runtime/runtime.h"

namespace runtime::platform {
namespace {

// Room for the fault report to run on a thread whose stack ran out.
constexpr ULONG stackOverflowReserve = 64 * 1024;

HANDLE StandardOutput() {
    const HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
    return output == INVALID_HANDLE_VALUE ? nullptr : output;
}

void WriteAll(HANDLE handle, std::string_view bytes) {
    while (!bytes.empty()) {
        DWORD written = 0;
        if (!::WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                         nullptr) ||
            written == 0) {
            return;
        }
        bytes.remove_prefix(written);
    }
}

template <std::size_t size>
class ReportText {
public:
    void Append(std::string_view text) {
        for (char c : text) {
            if (length_ + 1 < chars_.size()) {
                chars_[length_++] = c;
            }
        }
        chars_[length_] = '\0';
    }
    void AppendHex(std::uint32_t value) {
        std::array<char, 8> hex{};
        for (std::size_t i = hex.size(); i-- > 0; value >>= 4) {
            hex[i] = "0123456789ABCDEF"[value & 0xF];
        }
        Append({hex.data(), hex.size()});
    }
    void AppendDecimal(std::uint32_t value) {
        std::array<char, 10> digits{};
        std::size_t first = digits.size();
        do {
            digits[--first] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0);
        Append({digits.data() + first, digits.size() - first});
    }
    [[nodiscard]] std::string_view View() const { return {chars_.data(), length_}; }

private:
    std::array<char, size> chars_{};
    std::size_t length_ = 0;
};

// The two programs name a few codes differently; a code without a name shows as its number.
std::string_view FaultName(DWORD code) {
    const bool tamblin = CurrentDialect() == Dialect::tamblin;
    switch (code) {
        case EXCEPTION_ACCESS_VIOLATION:
            return "ACCESS_VIOLATION";
        case EXCEPTION_PRIV_INSTRUCTION:
            return tamblin ? "PRIVILEGED_INSTRUCTION" : "ILLEGAL_INSTRUCTION";
        case EXCEPTION_STACK_OVERFLOW:
            return tamblin ? "" : "STACK_OVERFLOW";
        case EXCEPTION_INT_DIVIDE_BY_ZERO:
        case EXCEPTION_FLT_DIVIDE_BY_ZERO:
            return "DIVIDE_BY_ZERO";
        case EXCEPTION_FLT_DENORMAL_OPERAND:
            return "FLOAT_DENORMAL";
        case EXCEPTION_FLT_OVERFLOW:
            return "FLOAT_OVERFLOW";
        case EXCEPTION_FLT_UNDERFLOW:
            return "FLOAT_UNDERFLOW";
        case EXCEPTION_FLT_INEXACT_RESULT:
            return "FLOAT_INEXACT";
        default:
            return "";
    }
}

// A processor fault names the faulting address, as no source line is known. Console output
// collected so far is written first, so a redirected console keeps it. The termination
// procedures are not run: the fault may have struck inside a lock or a heap block that they
// would take or free, and a fault inside them would hide this report; the OS reclaims all they
// would release.
LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* pointers) {
    FlushConsoleAtFault();
    const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
    ReportText<128> text;
    text.Append("at ");
    text.AppendHex(
        static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(record.ExceptionAddress)));
    text.Append(" -> ");
    const std::string_view name = FaultName(record.ExceptionCode);
    if (!name.empty()) {
        text.Append(name);
    } else if (CurrentDialect() == Dialect::tamblin) {
        text.AppendDecimal(record.ExceptionCode);
    } else {
        text.AppendHex(record.ExceptionCode);
    }
    ShowErrorReport(text.View());
    ExitProcess(255);
}

}  // namespace

const std::string_view lineEnd = "\r\n";

void InitProcess(int, char**) {
    // A drive without a disc must not make the system ask the user to insert one.
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    // Extended precision, round to nearest, every exception masked.
    _control87(_PC_64 | _RC_NEAR | _MCW_EM, _MCW_PC | _MCW_RC | _MCW_EM);
    ULONG reserve = stackOverflowReserve;
    ::SetThreadStackGuarantee(&reserve);
    ::SetUnhandledExceptionFilter(OnUnhandledException);
}

ConsoleKind ProbeConsole() {
    const HANDLE output = StandardOutput();
    if (output == nullptr) {
        return ConsoleKind::none;
    }
    switch (::GetFileType(output)) {
        case FILE_TYPE_CHAR:
            return ConsoleKind::characterDevice;
        case FILE_TYPE_UNKNOWN:
            return ::GetLastError() == NO_ERROR ? ConsoleKind::redirected : ConsoleKind::none;
        default:
            return ConsoleKind::redirected;
    }
}

void WriteConsole(std::string_view bytes) {
    if (const HANDLE output = StandardOutput()) {
        WriteAll(output, bytes);
    }
}

void ShowErrorReport(std::string_view text) {
    ReportText<512> message;
    message.Append(text);
    ReportText<32> caption;
    caption.Append(errorReportCaption);
    ::MessageBoxA(nullptr, message.View().data(), caption.View().data(),
                  MB_OK | MB_ICONSTOP | MB_SYSTEMMODAL | MB_SETFOREGROUND);
}

void CommandTail(std::span<char> buffer) {
    CopyCommandTail(TailAfterProgramName(::GetCommandLineA()), buffer);
}

std::int32_t LocalMillisecondsSinceMidnight() {
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    return ((now.wHour * 60 + now.wMinute) * 60 + now.wSecond) * 1000 + now.wMilliseconds;
}

void ExitProcess(std::int32_t exitCode) {
    ::ExitProcess(static_cast<UINT>(exitCode));
}

namespace {

struct ExitDeadline {
    DWORD milliseconds = 0;
    UINT exitCode = 0;
};
ExitDeadline exitDeadline;

// TerminateProcess, not ExitProcess: the library detach that ExitProcess runs is one of the
// things that can hang.
DWORD WINAPI EndAtDeadline(void*) {
    ::Sleep(exitDeadline.milliseconds);
    ::TerminateProcess(::GetCurrentProcess(), exitDeadline.exitCode);
    return 0;
}

}  // namespace

void ArmExitDeadline(std::chrono::milliseconds delay, std::int32_t exitCode) {
    exitDeadline.milliseconds = static_cast<DWORD>(delay.count());
    exitDeadline.exitCode = static_cast<UINT>(exitCode);
    const HANDLE thread = ::CreateThread(nullptr, 0, EndAtDeadline, nullptr, 0, nullptr);
    if (thread != nullptr) {
        ::CloseHandle(thread);
    }
}

void WaitForProcessEnd() {
    for (;;) {
        ::Sleep(INFINITE);
    }
}

}  // namespace runtime::platform
