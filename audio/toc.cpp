#include "audio/toc.h"

namespace audio {

std::int32_t ReadToc(std::span<TocEntry>, std::int32_t&, std::int32_t&, drive::DriveRecord&) {
    return 0;
}

}  // namespace audio
