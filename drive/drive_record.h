// One CD drive found by discovery, and the settings the read commands consult.
#pragma once

#include <cstdint>

namespace drive {

inline constexpr std::int32_t maxDrives = 16;

struct DriveRecord {
    std::int32_t adapter = 0;
    std::int32_t target = 0;
    std::int32_t lun = 0;
    std::int32_t c2Method = 0;  // -1: no C2 read form found
    bool rezeroAfterRead = false;
    bool rawTocBcd = false;        // the full TOC's addresses are BCD
    bool densitySwitched = false;  // a MODE SELECT changed the block length; undo it at the end
    // The drive stayed NOT READY through a whole wait; reads do not wait again until it answers.
    bool waitedInVain = false;
};

}  // namespace drive
