// Reading a range of sectors with C2 pointers into the two output files.
#pragma once

#include <cstdint>
#include <span>

#include "drive/drive_record.h"
#include "extract/slot_pool.h"

namespace extract {

// What the program ends with after an extraction.
enum class ExtractOutcome { done, outputFailed, discUnreadable };

// Reads sectors first..end-1 of `drive`, writing "<name>.wav" and "<name>.c2". Reports its
// own failures on the console.
[[nodiscard]] ExtractOutcome ExtractDisc(std::int32_t firstSector, std::int32_t endSector,
                                         drive::DriveRecord& drive, SlotPool& pool);

}  // namespace extract
