// The hand-over between the reader (main thread) and the writer thread: 32 slots that
// circulate through two first-in-first-out queues under one lock.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "runtime/sync.h"

namespace extract {

inline constexpr std::int32_t SlotCount = 32;
inline constexpr std::int32_t SlotSectors = 32;
inline constexpr std::size_t audioBytesPerSector = 2'352;
inline constexpr std::size_t c2BytesPerSector = 294;
inline constexpr std::size_t slotAudioBytes = SlotSectors * audioBytesPerSector;  // 75,264
inline constexpr std::size_t slotC2Bytes = SlotSectors * c2BytesPerSector;        // 9,408
inline constexpr std::size_t audioAreaBytes = SlotCount * slotAudioBytes;         // 2,408,448
inline constexpr std::size_t c2AreaBytes = SlotCount * slotC2Bytes;               // 301,056

struct BufferSlot {
    std::span<std::byte> audio;
    std::span<std::byte> c2;
    std::int32_t sectorCount = 0;  // 0 marks the end of the stream
};

struct SlotQueue {
    std::array<BufferSlot*, SlotCount> entries{};  // position 0 is the oldest
    std::int32_t count = 0;
    runtime::Event* event = nullptr;  // signalled by every put, reset by every take
};

// Owns the slots, both queues, their lock and the three events. Every slot is in exactly
// one place: in a queue, or held by the reader or the writer.
class SlotPool {
public:
    // Creates the events and puts slots 0..31, cut from the two areas, into freeQueue.
    void InitSlotPool(std::span<std::byte> audioArea, std::span<std::byte> c2Area);

    void PutSlot(SlotQueue& queue, BufferSlot& slot);
    // Removes the oldest slot, waiting as long as the queue is empty.
    [[nodiscard]] BufferSlot& TakeSlot(SlotQueue& queue);

    // Closes the events that were created, in the order free, filled, writer done.
    void CloseEvents();

    // From just before the writer starts until the driver has seen writerDoneEvent: while this
    // holds, the writer may be waiting on the events or holding a slot's memory.
    void MarkWriterRunning(bool running) { writerRunning_.store(running); }
    [[nodiscard]] bool WriterRunning() const { return writerRunning_.load(); }

    SlotQueue freeQueue;
    SlotQueue filledQueue;
    std::optional<runtime::Event> slotFreeEvent;
    std::optional<runtime::Event> slotFilledEvent;
    std::optional<runtime::Event> writerDoneEvent;

private:
    runtime::CriticalSection queueLock;
    std::array<BufferSlot, SlotCount> slots;
    std::atomic<bool> writerRunning_{false};
};

}  // namespace extract
