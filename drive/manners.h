// A real drive's manners: it becomes ready some seconds after a disc goes in, reports a disc
// change or a reset once (UNIT ATTENTION) before it runs the next command, and may pause in
// the middle of a read. What an answer means for readiness, and whether to send the command
// again, is decided here and nowhere else.
#pragma once

#include <cstdint>

#include "drive/aspi_proc.h"
#include "runtime/clock.h"

namespace drive {

inline constexpr std::uint8_t senseKeyUnitAttention = 0x06;
inline constexpr std::uint8_t ascNotReady = 0x04;

inline constexpr runtime::Milliseconds readyPoll{500};
inline constexpr runtime::Milliseconds readyPatience{30'000};

// A start-up's TEST UNIT READY takes this many unit attentions in a row, a read three resends.
inline constexpr std::int32_t startUnitAttentions = 8;
inline constexpr std::int32_t readUnitAttentions = 4;

enum class Readiness {
    answered,       // the command ran: its answer is its own, good or bad
    unitAttention,  // a change was reported instead of running the command
    becomingReady,  // NOT READY 04/01, 04/04, 04/07 or 04/08: worth waiting for
    noDisc,         // NOT READY 3A
    lost,           // no answer, or NOT READY for a reason no wait cures
};
[[nodiscard]] Readiness ReadinessOf(const CommandResult& answer);

// How a patient exchange ended.
enum class PatienceEnd { answered, unitAttentionKept, neverReady };

// Sends a command until the drive answers it: again at once after a unit attention (up to the
// limit in a row), again every 500 ms while it becomes ready (up to 30 s from the first
// NOT READY). Sleeps on the runtime's clock, so tests wait no real time.
//
//     Patience patience(readUnitAttentions);
//     CommandResult answer;
//     do { answer = Send(); } while (patience.SendAgain(answer));
class Patience {
public:
    // `announceWait` (may be null) is called once, before the first wait.
    explicit Patience(std::int32_t unitAttentionLimit, bool mayWait = true,
                      void (*announceWait)() = nullptr)
        : unitAttentionLimit_(unitAttentionLimit), mayWait_(mayWait), announceWait_(announceWait) {}

    // Whether to send the command again after `answer`; waits first when the drive is becoming
    // ready. Adds the answer's time to CommandTime.
    [[nodiscard]] bool SendAgain(const CommandResult& answer);
    [[nodiscard]] PatienceEnd End() const { return end_; }
    // Time spent in the commands themselves, waits left out.
    [[nodiscard]] runtime::Microseconds CommandTime() const { return commandTime_; }

private:
    std::int32_t unitAttentionLimit_;
    bool mayWait_;
    void (*announceWait_)();
    std::int32_t unitAttentionsInARow_ = 0;
    bool waiting_ = false;
    runtime::Microseconds waitingSince_{0};
    runtime::Microseconds commandTime_{0};
    PatienceEnd end_ = PatienceEnd::answered;
};

}  // namespace drive
