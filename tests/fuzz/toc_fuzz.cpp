// The table of contents as a drive answers it: READ TOC, READ CAPACITY when the lead-out is
// implausible, the full TOC in both forms and the sessions decoded from it, and the range of
// sectors the extraction would read.
#include <array>
#include <cstdint>

#include "audio/toc.h"
#include "audio/toc_decode.h"
#include "tests/fuzz/scripted_drive.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::SetScript({data, size});
    drive::DriveRecord drive;
    drive.rawTocBcd = (fuzzing::TakeScriptByte() & 1) != 0;  // the previous answer
    std::array<audio::TocEntry, audio::tocEntries> table{};
    std::int32_t lastTrack = 0;
    std::int32_t firstTrack = 0;
    const std::int32_t trackCount = audio::ReadToc(table, lastTrack, firstTrack, drive);
    if (trackCount > 0) {
        (void)audio::DiscReadRange(table, trackCount, firstTrack, lastTrack);
    }
    return 0;
}
