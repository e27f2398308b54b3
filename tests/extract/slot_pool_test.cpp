#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "extract/slot_pool.h"

namespace {

using namespace std::chrono_literals;
using extract::BufferSlot;
using extract::SlotPool;

class SlotPoolTest : public testing::Test {
protected:
    void SetUp() override { pool.InitSlotPool(audio, c2); }

    std::vector<std::byte> audio = std::vector<std::byte>(extract::audioAreaBytes);
    std::vector<std::byte> c2 = std::vector<std::byte>(extract::c2AreaBytes);
    SlotPool pool;
};

TEST_F(SlotPoolTest, SlotsComeOutInOrderOverTheirOwnMemory) {
    for (std::size_t i = 0; i < extract::SlotCount; ++i) {
        BufferSlot& slot = pool.TakeSlot(pool.freeQueue);
        EXPECT_EQ(slot.audio.data(), audio.data() + i * extract::slotAudioBytes);
        EXPECT_EQ(slot.audio.size(), 75'264u);
        EXPECT_EQ(slot.c2.data(), c2.data() + i * extract::slotC2Bytes);
        EXPECT_EQ(slot.c2.size(), 9'408u);
        pool.PutSlot(pool.filledQueue, slot);
    }
    for (std::size_t i = 0; i < extract::SlotCount; ++i) {
        EXPECT_EQ(pool.TakeSlot(pool.filledQueue).audio.data(),
                  audio.data() + i * extract::slotAudioBytes);
    }
}

TEST_F(SlotPoolTest, ATakeResetsTheEventYetTheNextTakeReturnsAtOnce) {
    BufferSlot& first = pool.TakeSlot(pool.freeQueue);
    EXPECT_FALSE(pool.slotFreeEvent->WaitFor(0ms));
    BufferSlot& second = pool.TakeSlot(pool.freeQueue);
    EXPECT_NE(&first, &second);
    EXPECT_EQ(pool.freeQueue.count, 30);
}

TEST_F(SlotPoolTest, TheThirtyThirdTakeWaitsForAPut) {
    std::vector<BufferSlot*> held;
    for (int i = 0; i < extract::SlotCount; ++i) {
        held.push_back(&pool.TakeSlot(pool.freeQueue));
    }
    std::atomic<BufferSlot*> taken{nullptr};
    std::thread taker([&] { taken = &pool.TakeSlot(pool.freeQueue); });
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(taken.load(), nullptr);
    pool.PutSlot(pool.freeQueue, *held[7]);
    taker.join();
    EXPECT_EQ(taken.load(), held[7]);
}

// A reader and a writer hand thousands of slots over: every one arrives once, in order.
TEST_F(SlotPoolTest, TwoThreadsHandOverEverySlotInOrder) {
    constexpr int rounds = 20'000;
    std::vector<int> seen;
    seen.reserve(rounds);
    std::thread writer([&] {
        for (;;) {
            BufferSlot& slot = pool.TakeSlot(pool.filledQueue);
            const int count = slot.sectorCount;
            pool.PutSlot(pool.freeQueue, slot);
            if (count == 0) {
                return;
            }
            seen.push_back(count);
        }
    });
    for (int i = 1; i <= rounds; ++i) {
        BufferSlot& slot = pool.TakeSlot(pool.freeQueue);
        slot.sectorCount = i;
        pool.PutSlot(pool.filledQueue, slot);
    }
    BufferSlot& marker = pool.TakeSlot(pool.freeQueue);
    marker.sectorCount = 0;
    pool.PutSlot(pool.filledQueue, marker);
    writer.join();
    ASSERT_EQ(seen.size(), static_cast<std::size_t>(rounds));
    for (int i = 0; i < rounds; ++i) {
        ASSERT_EQ(seen[static_cast<std::size_t>(i)], i + 1);
    }
    EXPECT_EQ(pool.freeQueue.count, extract::SlotCount);
}

}  // namespace
