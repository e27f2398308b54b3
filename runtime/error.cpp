#include "runtime/error.h"

#include <array>
#include <atomic>
#include <chrono>

#include "runtime/console.h"
#include "runtime/format.h"
#include "runtime/halt.h"
#include "runtime/platform.h"

namespace runtime {
namespace {

// The thread whose failed check is being reported; 0 while none is.
std::atomic<std::uint64_t> reportingThread{0};

// The chain gets this long after the report; the process ends then at the latest, even when a
// termination procedure waits on a thread that can no longer answer.
constexpr std::chrono::milliseconds chainDeadline{500};

// The first failed check is reported; a second one on the same thread (in a termination
// procedure, say) ends the process at once, one on another thread waits for that end.
void ClaimTheReport() {
    const std::uint64_t self = platform::CurrentThreadId();
    std::uint64_t none = 0;
    if (reportingThread.compare_exchange_strong(none, self)) {
        return;
    }
    if (none == self) {
        platform::ExitProcess(runtimeErrorExitCode);
    }
    platform::WaitForProcessEnd();
}

class ReportText {
public:
    void Append(std::string_view text) {
        for (char c : text) {
            if (size_ < chars_.size()) {
                chars_[size_++] = c;
            }
        }
    }
    [[nodiscard]] std::string_view View() const { return {chars_.data(), size_}; }

private:
    std::array<char, 512> chars_{};
    std::size_t size_ = 0;
};

}  // namespace

std::string_view ModuleName(std::string_view fileName) {
    const std::size_t slash = fileName.find_last_of("/\\");
    if (slash != std::string_view::npos) {
        fileName.remove_prefix(slash + 1);
    }
    return fileName.substr(0, fileName.find('.'));
}

void RuntimeError(std::string_view name, std::source_location where) {
    ClaimTheReport();
    FlushConsole();
    ReportText report;
    report.Append("at ");
    report.Append(ModuleName(where.file_name()));
    report.Append(".");
    report.Append(FormatInt(where.line(), 0).View());
    report.Append(" -> ");
    report.Append(name);
    platform::ShowErrorReport(report.View());
    platform::ArmExitDeadline(chainDeadline, runtimeErrorExitCode);
    Halt(runtimeErrorExitCode);
}

}  // namespace runtime
