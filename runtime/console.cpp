#include "runtime/console.h"

#include <array>
#include <atomic>
#include <cstring>

#include "runtime/format.h"
#include "runtime/platform.h"
#include "runtime/runtime.h"

namespace runtime {
namespace {

// Straight through to a terminal, so a progress line without a line end shows at once;
// collected in a small buffer when redirected. The buffer has a flag of its own rather than a
// lock: a fatal error on another thread flushes it, and a fault handler may run on a thread that
// is half-way through a write.
class ConsoleChannel {
public:
    void Bind(platform::ConsoleKind kind) {
        kind_ = kind;
        used_ = 0;
    }

    void Write(std::string_view bytes) {
        Claim();
        WriteClaimed(bytes);
        Release();
    }

    [[nodiscard]] bool Terminal() const { return kind_ == platform::ConsoleKind::characterDevice; }

    void Flush() {
        Claim();
        FlushClaimed();
        Release();
    }

    // Bounded: a channel that stays claimed belongs to the faulting thread itself, and what its
    // buffer holds up to `used_` is complete.
    void FlushAtFault() {
        constexpr int attempts = 10'000;
        bool claimed = false;
        for (int i = 0; i < attempts && !claimed; ++i) {
            claimed = !busy_.exchange(true, std::memory_order_acquire);
            if (!claimed) {
                platform::YieldToOtherThreads();
            }
        }
        FlushClaimed();
        if (claimed) {
            Release();
        }
    }

private:
    void Claim() {
        while (busy_.exchange(true, std::memory_order_acquire)) {
            platform::YieldToOtherThreads();
        }
    }
    void Release() { busy_.store(false, std::memory_order_release); }

    void WriteClaimed(std::string_view bytes) {
        switch (kind_) {
            case platform::ConsoleKind::none:
                return;
            case platform::ConsoleKind::characterDevice:
                platform::WriteConsole(bytes);
                return;
            case platform::ConsoleKind::redirected:
                Buffer(bytes);
                return;
        }
    }

    void FlushClaimed() {
        if (used_ > 0) {
            platform::WriteConsole({buffer_.data(), used_});
            used_ = 0;
        }
    }

    void Buffer(std::string_view bytes) {
        if (used_ + bytes.size() > buffer_.size()) {
            FlushClaimed();
        }
        if (bytes.size() >= buffer_.size()) {
            platform::WriteConsole(bytes);
            return;
        }
        std::memcpy(buffer_.data() + used_, bytes.data(), bytes.size());
        used_ += bytes.size();
    }

    platform::ConsoleKind kind_ = platform::ConsoleKind::characterDevice;
    std::array<char, 1024> buffer_{};
    std::size_t used_ = 0;
    std::atomic<bool> busy_{false};
};

ConsoleChannel console;

}  // namespace

void InitConsole() {
    console.Bind(platform::ProbeConsole());
}

void WriteLn() {
    console.Write(platform::lineEnd);
}

void WriteString(std::string_view text) {
    console.Write(text.substr(0, std::min(text.size(), text.find('\0'))));
}

void WriteChar(char c) {
    console.Write({&c, 1});
}

void WriteInt(std::int32_t value, std::int32_t width) {
    console.Write(FormatInt(value, width).View());
}

void WriteFixed(double value, std::int32_t places, std::int32_t width) {
    console.Write(FormatFixed(value, places, width, CurrentDialect()).View());
}

bool ConsoleIsTerminal() {
    return console.Terminal();
}

void FlushConsole() {
    console.Flush();
}

void FlushConsoleAtFault() {
    console.FlushAtFault();
}

}  // namespace runtime
