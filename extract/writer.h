// The writer thread: stores each filled slot's audio and C2 pointers in the two files.
#pragma once

#include <atomic>
#include <cstdint>

#include "extract/slot_pool.h"
#include "runtime/file_channel.h"

namespace extract {

enum class FailedFile : std::int32_t { none, wav, c2 };

// What the driver and the writer share. The files belong to the writer from its start to
// writerDoneEvent, to the driver before and after.
struct WriterShared {
    SlotPool* pool = nullptr;
    runtime::FileChannel wavFile;
    runtime::FileChannel c2File;
    // The first failed write stops all further writing; the driver sees it at its next chunk.
    std::atomic<FailedFile> failedFile{FailedFile::none};
    std::int32_t failedError = 0;        // written before failedFile is published
    std::int64_t audioBytesWritten = 0;  // these two: read by the driver after writerDoneEvent
    std::int64_t c2BytesWritten = 0;

    [[nodiscard]] bool Failed() const { return failedFile.load() != FailedFile::none; }
    void RecordFailure(FailedFile file, std::int32_t error) {
        failedError = error;
        failedFile.store(file);
    }
};

// Thread procedure; the parameter is the address of a WriterShared. Returns 0 after the
// end marker, having signalled writerDoneEvent.
std::int32_t WriterThread(std::intptr_t parameter);

}  // namespace extract
