// The table of CD drives that the chosen command path reaches.
#pragma once

#include <cstdint>
#include <span>

#include "drive/drive_record.h"

namespace drive {

// Fills `table` with up to `capacity` CD drives in adapter-then-target order; `count`
// receives how many. A CD drive that gives no vendor and product text is not counted.
// Returns 0, the path's support status when it is not ready, or bits 8-15 of a failed
// get-device-type answer.
std::int32_t DiscoverDrives(std::int32_t& count, std::int32_t capacity,
                            std::span<DriveRecord> table);

// The per-drive settings at the start of a run.
void ResetDriveSettings(std::span<DriveRecord> drives);

}  // namespace drive
