#include "extract/writer.h"

#include <array>
#include <cstring>
#include <span>

#include "runtime/error.h"

namespace extract {
namespace {

// Sector records in a slot's C2 half are 296 bytes apart; the file takes their first 294.
constexpr std::size_t c2RecordBytes = 296;

// The C2 bytes of one slot, gathered so the file gets them in one write.
std::array<std::byte, slotC2Bytes> c2Gather;

std::span<const std::byte> GatherC2(const BufferSlot& slot) {
    const auto sectors = static_cast<std::size_t>(slot.sectorCount);
    runtime::CheckRange(sectors * c2RecordBytes <= slot.c2.size());
    for (std::size_t i = 0; i < sectors; ++i) {
        std::memcpy(c2Gather.data() + i * c2BytesPerSector, slot.c2.data() + i * c2RecordBytes,
                    c2BytesPerSector);
    }
    return std::span(c2Gather).first(sectors * c2BytesPerSector);
}

void WriteSlot(WriterShared& shared, const BufferSlot& slot) {
    const auto audioBytes = static_cast<std::size_t>(slot.sectorCount) * audioBytesPerSector;
    runtime::WriteBlock(shared.wavFile, slot.audio.first(audioBytes));
    shared.audioBytesWritten += shared.wavFile.bytesMoved;
    if (shared.wavFile.result != 0) {
        shared.RecordFailure(FailedFile::wav, shared.wavFile.result);
        return;
    }
    runtime::WriteBlock(shared.c2File, GatherC2(slot));
    shared.c2BytesWritten += shared.c2File.bytesMoved;
    if (shared.c2File.result != 0) {
        shared.RecordFailure(FailedFile::c2, shared.c2File.result);
    }
}

}  // namespace

std::int32_t WriterThread(std::intptr_t parameter) {
    auto& shared = *reinterpret_cast<WriterShared*>(parameter);
    SlotPool& pool = *shared.pool;
    for (;;) {
        BufferSlot& slot = pool.TakeSlot(pool.filledQueue);
        const std::int32_t sectors = slot.sectorCount;
        if (sectors > 0 && !shared.Failed()) {
            WriteSlot(shared, slot);
        }
        pool.PutSlot(pool.freeQueue, slot);
        if (sectors == 0) {
            pool.writerDoneEvent->Set();
            return 0;
        }
    }
}

}  // namespace extract
