#include "extract/slot_pool.h"

#include <algorithm>

#include "runtime/error.h"

namespace extract {

void SlotPool::InitSlotPool(std::span<std::byte> audioArea, std::span<std::byte> c2Area) {
    runtime::CheckRange(audioArea.size() >= audioAreaBytes && c2Area.size() >= c2AreaBytes);
    freeQueue.count = 0;
    filledQueue.count = 0;
    slotFreeEvent.emplace(runtime::ResetMode::manual);
    slotFilledEvent.emplace(runtime::ResetMode::manual);
    writerDoneEvent.emplace(runtime::ResetMode::manual);
    freeQueue.event = &*slotFreeEvent;
    filledQueue.event = &*slotFilledEvent;
    for (std::size_t i = 0; i < slots.size(); ++i) {
        slots[i].audio = audioArea.subspan(i * slotAudioBytes, slotAudioBytes);
        slots[i].c2 = c2Area.subspan(i * slotC2Bytes, slotC2Bytes);
        slots[i].sectorCount = 0;
        PutSlot(freeQueue, slots[i]);
    }
}

void SlotPool::PutSlot(SlotQueue& queue, BufferSlot& slot) {
    runtime::ScopedLock lock(queueLock);
    // Only 32 slots exist, so a put never finds the queue full.
    runtime::CheckIndex(static_cast<std::size_t>(queue.count), queue.entries.size());
    queue.entries[static_cast<std::size_t>(queue.count)] = &slot;
    ++queue.count;
    queue.event->Set();
}

BufferSlot& SlotPool::TakeSlot(SlotQueue& queue) {
    for (;;) {
        bool empty = false;
        {
            runtime::ScopedLock lock(queueLock);
            empty = queue.count <= 0;
        }
        // Manual reset: a put between the test and the wait leaves the event set, so no
        // wake-up is lost.
        if (empty) {
            queue.event->Wait();
        }
        runtime::ScopedLock lock(queueLock);
        if (queue.count > 0) {
            queue.event->Reset();
            BufferSlot* slot = queue.entries[0];
            std::copy(queue.entries.begin() + 1, queue.entries.begin() + queue.count,
                      queue.entries.begin());
            --queue.count;
            return *slot;
        }
    }
}

void SlotPool::CloseEvents() {
    slotFreeEvent.reset();
    slotFilledEvent.reset();
    writerDoneEvent.reset();
}

}  // namespace extract
