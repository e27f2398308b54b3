#include "drive/manners.h"

namespace drive {
namespace {

constexpr std::uint8_t ascqBecomingReady = 0x01;
constexpr std::uint8_t ascqFormatInProgress = 0x04;
constexpr std::uint8_t ascqOperationInProgress = 0x07;
constexpr std::uint8_t ascqLongWriteInProgress = 0x08;

bool BecomingReady(const CommandResult& answer) {
    if (answer.asc != ascNotReady) {
        return false;
    }
    switch (answer.ascq) {
        case ascqBecomingReady:
        case ascqFormatInProgress:
        case ascqOperationInProgress:
        case ascqLongWriteInProgress:
            return true;
        default:
            return false;
    }
}

}  // namespace

Readiness ReadinessOf(const CommandResult& answer) {
    if (answer.status == aspi::statusCompleted) {
        return Readiness::answered;
    }
    if (answer.status != aspi::statusCheckCondition) {
        return Readiness::lost;
    }
    if (answer.senseKey == senseKeyUnitAttention) {
        return Readiness::unitAttention;
    }
    if (answer.senseKey != senseKeyNotReady) {
        return Readiness::answered;
    }
    if (answer.asc == ascMediumNotPresent) {
        return Readiness::noDisc;
    }
    return BecomingReady(answer) ? Readiness::becomingReady : Readiness::lost;
}

bool Patience::SendAgain(const CommandResult& answer) {
    commandTime_ += answer.elapsed;
    const Readiness readiness = ReadinessOf(answer);
    if (readiness != Readiness::unitAttention) {
        unitAttentionsInARow_ = 0;
    }
    switch (readiness) {
        case Readiness::unitAttention:
            if (++unitAttentionsInARow_ < unitAttentionLimit_) {
                return true;
            }
            end_ = PatienceEnd::unitAttentionKept;
            return false;
        case Readiness::becomingReady: {
            runtime::Clock& clock = runtime::CurrentClock();
            if (!waiting_) {
                waiting_ = true;
                waitingSince_ = clock.Now();
                if (mayWait_ && announceWait_ != nullptr) {
                    announceWait_();
                }
            }
            if (!mayWait_ || clock.Now() - waitingSince_ >= readyPatience) {
                end_ = PatienceEnd::neverReady;
                return false;
            }
            clock.Sleep(readyPoll);
            return true;
        }
        case Readiness::answered:
        case Readiness::noDisc:
        case Readiness::lost:
            break;
    }
    end_ = PatienceEnd::answered;
    return false;
}

}  // namespace drive
