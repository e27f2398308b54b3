#include "extract/progress.h"

#include <cmath>

#include "runtime/console.h"
#include "runtime/format.h"
#include "runtime/runtime.h"

namespace extract {
namespace {

constexpr double cdSpeedBytesPerSecond = 176'400.0;
constexpr double audioBytesPerSector = 2'352.0;
constexpr runtime::Microseconds rateWindow = std::chrono::seconds(10);
constexpr runtime::Microseconds samplePeriod = std::chrono::seconds(1);

// Writes `text` and returns its length.
std::int32_t Put(std::string_view text) {
    runtime::WriteString(text);
    return static_cast<std::int32_t>(text.size());
}

std::int32_t PutTwoDigits(std::int64_t value) {
    return Put(runtime::FormatInt(value / 10, 0).View()) +
           Put(runtime::FormatInt(value % 10, 0).View());
}

// h:mm:ss
std::int32_t PutDuration(std::int64_t seconds) {
    return Put(runtime::FormatInt(seconds / 3600, 0).View()) + Put(":") +
           PutTwoDigits(seconds / 60 % 60) + Put(":") + PutTwoDigits(seconds % 60);
}

std::int32_t PutPercent(double percent) {
    return Put(runtime::FormatFixed(percent, 1, 5, runtime::CurrentDialect()).View()) +
           Put("% Done");
}

}  // namespace

ProgressLine::ProgressLine(std::int32_t firstSector, std::int32_t endSector, bool terminal)
    : firstSector_(firstSector), endSector_(endSector), terminal_(terminal) {
    if (terminal_) {
        Remember(runtime::CurrentClock().Now(), firstSector);
    }
}

void ProgressLine::Show(std::int32_t nextSector) {
    const double percent =
        static_cast<double>(nextSector - firstSector_) * 100.0 / (endSector_ - firstSector_);
    if (terminal_) {
        ShowInTerminal(percent, nextSector);
    } else {
        ShowInLog(percent);
    }
}

void ProgressLine::ShowInLog(double percent) {
    const auto tenths = std::llround(percent * 10.0);
    if (tenths == lastTenths_) {
        return;
    }
    if (lineTenth_ >= 0 && tenths / 100 != lineTenth_) {
        runtime::WriteLn();
    }
    lineTenth_ = tenths / 100;
    lastTenths_ = tenths;
    runtime::WriteChar('\r');
    (void)PutPercent(percent);
}

void ProgressLine::ShowInTerminal(double percent, std::int32_t nextSector) {
    const runtime::Microseconds now = runtime::CurrentClock().Now();
    const double bytesPerSecond = BytesPerSecond(now, nextSector);
    Remember(now, nextSector);
    runtime::WriteChar('\r');
    std::int32_t length = PutPercent(percent);
    if (bytesPerSecond > 0.0) {
        const double secondsLeft = (endSector_ - nextSector) * audioBytesPerSector / bytesPerSecond;
        length += Put(" - ");
        length += Put(runtime::FormatFixed(bytesPerSecond / cdSpeedBytesPerSecond, 1, 1,
                                           runtime::CurrentDialect())
                          .View());
        length += Put("x - Estimated Remaining ");
        length += PutDuration(std::llround(secondsLeft));
    }
    for (std::int32_t i = length; i < longestText_; ++i) {
        runtime::WriteChar(' ');
    }
    longestText_ = std::max(longestText_, length);
}

double ProgressLine::BytesPerSecond(runtime::Microseconds now, std::int32_t sector) const {
    // The oldest sample of the window; after a read longer than the window, the newest one.
    const Sample* base = nullptr;
    for (std::int32_t age = 0; age < sampleCount_; ++age) {
        const auto index = static_cast<std::size_t>((newest_ - age + sampleSlots) % sampleSlots);
        if (base == nullptr || now - samples_[index].at <= rateWindow) {
            base = &samples_[index];
        }
    }
    if (base == nullptr || now <= base->at) {
        return 0.0;
    }
    const double seconds = std::chrono::duration<double>(now - base->at).count();
    return (sector - base->sector) * audioBytesPerSector / seconds;
}

void ProgressLine::Remember(runtime::Microseconds now, std::int32_t sector) {
    if (sampleCount_ > 0 && now - samples_[static_cast<std::size_t>(newest_)].at < samplePeriod) {
        return;
    }
    newest_ = sampleCount_ == 0 ? 0 : (newest_ + 1) % sampleSlots;
    samples_[static_cast<std::size_t>(newest_)] = {now, sector};
    sampleCount_ = std::min(sampleCount_ + 1, sampleSlots);
}

}  // namespace extract
