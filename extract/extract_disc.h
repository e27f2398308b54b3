// Reading a range of sectors with C2 pointers into the two output files.
#pragma once

#include <cstdint>
#include <span>

#include "drive/drive_record.h"
#include "extract/file_names.h"
#include "extract/slot_pool.h"
#include "extract/writer.h"
#include "runtime/clock.h"

namespace extract {

// What the program ends with after an extraction.
enum class ExtractOutcome { done, outputFailed, discUnreadable };

// How a pass meets a drive that stops answering or whose disc is gone. A plain run reads on
// and stores zeros; a study stops the pass there, keeps its files and goes on.
enum class DriveLoss { readOn, stopPass };

// How long a pass's reads took: chunks whose reads took more than 4 s are slow regions.
struct ReadTimes {
    runtime::Microseconds inReads{0};  // in read commands, waits for the drive left out
    std::int32_t slowReads = 0;
    runtime::Microseconds slowest{0};
    std::int32_t slowestSector = 0;  // the first sector of the slowest chunk
};

// What one pass left behind.
struct PassReport {
    ExtractOutcome outcome = ExtractOutcome::done;
    std::int32_t sectorsWritten = 0;  // whole sectors in both files, as the header declares
    std::int32_t failedSectors = 0;   // stored as zeros
    bool driveLost = false;           // stopped at lostAtSector: no answer, or NOT READY
    std::int32_t lostAtSector = 0;
    std::uint8_t lostAsc = 0;  // 0x3A: medium not present
    FailedFile failedFile = FailedFile::none;
    std::int32_t osError = 0;  // of the failed write
    ReadTimes readTimes;
    std::int64_t audioBytesRead = 0;  // handed to the writer
};

// One pass with the drive's c2Method already found: names the files, reads first..end-1 into
// them and reports on the console as a plain run does.
[[nodiscard]] PassReport ExtractPass(const OutputNames& names, std::int32_t firstSector,
                                     std::int32_t endSector, drive::DriveRecord& drive,
                                     SlotPool& pool, DriveLoss loss);

// Reads sectors first..end-1 of `drive`, writing "<name>.wav" and "<name>.c2". Reports its
// own failures on the console.
[[nodiscard]] ExtractOutcome ExtractDisc(std::int32_t firstSector, std::int32_t endSector,
                                         drive::DriveRecord& drive, SlotPool& pool);

}  // namespace extract
