// Start-up and end of the drive-access layer, and the choice of the command path.
#pragma once

#include "drive/aspi_proc.h"
#include "drive/discovery.h"
#include "drive/drive_record.h"
#include "drive/native_os.h"

namespace drive {

struct DriveLayerOptions {
    native::DeviceOs* deviceOs = nullptr;      // null: the platform's own CD devices
    const char* aspiLibrary = nullptr;         // null: the platform's file name; "": none
    const char* alternativeLibrary = nullptr;  // likewise
};

// Starts the native layer, loads the manager libraries and creates the shared command state;
// installs the layer's termination procedure (once per process), which runs StopDriveLayer.
void StartDriveLayer(const DriveLayerOptions& options = {});

// The exit steps in reverse start-up order: a command in flight awaited, the buffer and event
// released, the manager libraries unloaded, the native worker stopped and its devices closed.
void StopDriveLayer();

// Chooses the command path from what start-up made available.
TransportKind SelectTransport();

// The bus the drive hangs on, as the OS tells it; unknown when commands go through a manager
// library, whose addresses need not be the native layer's.
[[nodiscard]] native::Bus DriveBus(const DriveRecord& drive);

}  // namespace drive
