#include "extract/extract_disc.h"

namespace extract {

// The extraction itself needs the C2 reads, which this build does not have yet; no drive
// can be chosen before they exist.
ExtractOutcome ExtractDisc(std::int32_t, std::int32_t, drive::DriveRecord&, SlotPool&) {
    return ExtractOutcome::done;
}

}  // namespace extract
