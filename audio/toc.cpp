#include "audio/toc.h"

namespace audio {

// Reading the table of contents needs the drive commands, which this build does not have
// yet; no drive can be chosen before they exist.
std::int32_t ReadToc(std::span<TocEntry>, std::int32_t&, std::int32_t&, drive::DriveRecord&) {
    return 0;
}

}  // namespace audio
