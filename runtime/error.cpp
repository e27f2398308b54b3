#include "runtime/error.h"

#include <array>
#include <atomic>

#include "runtime/console.h"
#include "runtime/format.h"
#include "runtime/halt.h"
#include "runtime/platform.h"

namespace runtime {
namespace {

// A check that fails while the report is already under way (in a termination procedure,
// say) must not recurse.
std::atomic<bool> reporting{false};

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
    if (reporting.exchange(true)) {
        platform::ExitProcess(runtimeErrorExitCode);
    }
    FlushConsole();
    ReportText report;
    report.Append("at ");
    report.Append(ModuleName(where.file_name()));
    report.Append(".");
    report.Append(FormatInt(where.line(), 0).View());
    report.Append(" -> ");
    report.Append(name);
    platform::ShowErrorReport(report.View());
    Halt(runtimeErrorExitCode);
}

}  // namespace runtime
