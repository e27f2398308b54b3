// What an answer means for a drive's readiness, and how long and how often a command is sent
// again, on a clock of the test's own: thirty seconds of waiting take none.
#include "drive/manners.h"

#include <gtest/gtest.h>

#include <vector>

namespace drive {
namespace {

class StepClock final : public runtime::Clock {
public:
    runtime::Microseconds Now() override { return now; }
    void Sleep(runtime::Milliseconds duration) override {
        now += duration;
        sleeps.push_back(duration.count());
    }
    runtime::Microseconds now{1'000'000};
    std::vector<long long> sleeps;
};

CommandResult Answer(std::uint8_t status, std::uint8_t key = 0, std::uint8_t asc = 0,
                     std::uint8_t ascq = 0) {
    CommandResult answer;
    answer.status = status;
    answer.senseKey = key;
    answer.asc = asc;
    answer.ascq = ascq;
    return answer;
}

const CommandResult good = Answer(aspi::statusCompleted);
const CommandResult unitAttention = Answer(aspi::statusCheckCondition, 6, 0x29, 0);
const CommandResult becomingReady = Answer(aspi::statusCheckCondition, 2, 4, 1);

class MannersTest : public testing::Test {
protected:
    void SetUp() override { runtime::UseClock(&clock_); }
    void TearDown() override { runtime::UseClock(nullptr); }

    // Sends until the patience stops; the drive answers from `script`, then `rest`.
    int Exchange(Patience& patience, const std::vector<CommandResult>& script,
                 const CommandResult& rest) {
        int sent = 0;
        CommandResult answer;
        do {
            answer = static_cast<std::size_t>(sent) < script.size() ? script[sent] : rest;
            ++sent;
        } while (patience.SendAgain(answer));
        return sent;
    }

    StepClock clock_;
};

TEST(ReadinessOfTest, EachAnswerHasItsMeaning) {
    EXPECT_EQ(ReadinessOf(good), Readiness::answered);
    EXPECT_EQ(ReadinessOf(Answer(aspi::statusCheckCondition, 3, 0x11, 0)), Readiness::answered);
    EXPECT_EQ(ReadinessOf(Answer(aspi::statusCheckCondition, 5, 0x24, 0)), Readiness::answered);
    EXPECT_EQ(ReadinessOf(unitAttention), Readiness::unitAttention);
    EXPECT_EQ(ReadinessOf(Answer(aspi::statusCheckCondition, 6, 0x28, 0)),
              Readiness::unitAttention);
    for (const std::uint8_t ascq : {1, 4, 7, 8}) {
        EXPECT_EQ(ReadinessOf(Answer(aspi::statusCheckCondition, 2, 4, ascq)),
                  Readiness::becomingReady)
            << int{ascq};
    }
    EXPECT_EQ(ReadinessOf(Answer(aspi::statusCheckCondition, 2, 4, 2)), Readiness::lost);
    EXPECT_EQ(ReadinessOf(Answer(aspi::statusCheckCondition, 2, 0x3A, 0)), Readiness::noDisc);
    EXPECT_EQ(ReadinessOf(Answer(aspi::statusAborted)), Readiness::lost);
}

TEST_F(MannersTest, UnitAttentionsAreSentAgainAtOnceUpToTheLimit) {
    Patience patience(startUnitAttentions);
    EXPECT_EQ(Exchange(patience, {unitAttention, unitAttention}, good), 3);
    EXPECT_EQ(patience.End(), PatienceEnd::answered);
    Patience endless(startUnitAttentions);
    EXPECT_EQ(Exchange(endless, {}, unitAttention), 8);
    EXPECT_EQ(endless.End(), PatienceEnd::unitAttentionKept);
    Patience read(readUnitAttentions);
    EXPECT_EQ(Exchange(read, {}, unitAttention), 4);
    EXPECT_TRUE(clock_.sleeps.empty());
}

TEST_F(MannersTest, ADriveBecomingReadyIsPolledEveryHalfSecondForThirtySeconds) {
    static int announced = 0;
    Patience patience(startUnitAttentions, true, [] { ++announced; });
    EXPECT_EQ(Exchange(patience, std::vector<CommandResult>(40, becomingReady), good), 41);
    EXPECT_EQ(patience.End(), PatienceEnd::answered);
    EXPECT_EQ(announced, 1);
    EXPECT_EQ(clock_.sleeps, std::vector<long long>(40, 500));

    clock_.sleeps.clear();
    Patience never(startUnitAttentions);
    EXPECT_EQ(Exchange(never, {}, becomingReady), 61);
    EXPECT_EQ(never.End(), PatienceEnd::neverReady);
    EXPECT_EQ(clock_.sleeps.size(), 60u);
}

// A unit attention between answers of becoming ready starts no new count of either.
TEST_F(MannersTest, AChangeDuringTheWaitIsTakenAndTheWaitGoesOn) {
    Patience patience(readUnitAttentions);
    EXPECT_EQ(
        Exchange(patience, {becomingReady, unitAttention, becomingReady, unitAttention}, good), 5);
    EXPECT_EQ(patience.End(), PatienceEnd::answered);
    EXPECT_EQ(clock_.sleeps.size(), 2u);
}

TEST_F(MannersTest, WithoutWaitingABecomingReadyAnswerEndsAtOnce) {
    Patience patience(readUnitAttentions, false);
    EXPECT_EQ(Exchange(patience, {}, becomingReady), 1);
    EXPECT_EQ(patience.End(), PatienceEnd::neverReady);
    EXPECT_TRUE(clock_.sleeps.empty());
}

TEST_F(MannersTest, CommandTimeAddsTheAnswersAndLeavesTheWaitsOut) {
    CommandResult slow = becomingReady;
    slow.elapsed = runtime::Microseconds(3'000);
    CommandResult done = good;
    done.elapsed = runtime::Microseconds(4'000'000);
    Patience patience(readUnitAttentions);
    EXPECT_EQ(Exchange(patience, {slow, slow}, done), 3);
    EXPECT_EQ(patience.CommandTime().count(), 4'006'000);
}

}  // namespace
}  // namespace drive
