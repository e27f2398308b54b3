// A drive study: every C2 form the drive executes, read once per form and per speed, each pass
// exactly as a plain run reads, with `<drive>.study.json` saying what happened.
#pragma once

#include <cstdint>
#include <span>

#include "drive/drive_record.h"
#include "extract/slot_pool.h"
#include "extract/speed_list.h"

namespace extract {

// Reads sectors 0..end-1 once per (form, speed); no speeds: once per form at the drive's own
// speed. Returns the exit code: 1 when a pass failed or the disc could not be read where the
// forms were tried.
[[nodiscard]] std::int32_t RunStudy(drive::DriveRecord& drive, std::int32_t endSector,
                                    SlotPool& pool, std::span<const StudySpeed> speeds);

}  // namespace extract
