#include "drive/drive_layer.h"

namespace drive {

// No command path exists in this build yet: discovery finds no drive, which the program
// reports for every drive number.
void StartDriveLayer() {}

void SelectTransport() {}

std::int32_t DiscoverDrives(std::int32_t& count, std::int32_t, std::span<DriveRecord>) {
    count = 0;
    return 0;
}

void ResetDriveSettings(std::span<DriveRecord> drives) {
    for (DriveRecord& drive : drives) {
        drive.rezeroAfterRead = false;
        drive.rawTocBcd = true;
    }
}

}  // namespace drive
