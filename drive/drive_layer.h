// Start-up of the drive-access layer and the choice of the command path.
#pragma once

#include <cstdint>
#include <span>

#include "drive/drive_record.h"

namespace drive {

// Prepares the native layer, loads the manager libraries and creates the shared command
// state, installing the layer's termination procedure. Runs once, before SelectTransport.
void StartDriveLayer();

// Chooses the command path: the first manager library, else the alternative one, else the
// native layer, else none.
void SelectTransport();

// Fills `table` with the CD drives the chosen path reaches; `count` receives how many.
// Returns 0, or the failing status the path reported.
std::int32_t DiscoverDrives(std::int32_t& count, std::int32_t capacity,
                            std::span<DriveRecord> table);

// The per-drive settings at the start of a run.
void ResetDriveSettings(std::span<DriveRecord> drives);

}  // namespace drive
