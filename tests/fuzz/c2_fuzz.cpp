// C2 detection as a drive answers it (INQUIRY, MODE SENSE(6) and (10), trial reads in each form,
// again further on after a medium error), then one read in the form found, split into audio
// and C2 records, and the drive's data blocks restored.
#include <array>
#include <cstddef>
#include <cstdint>

#include "audio/c2_read.h"
#include "tests/fuzz/scripted_drive.h"

namespace {

std::array<std::byte, audio::maxC2ReadSectors * audio::audioBytesPerSector> audioBuffer;
std::array<std::byte, audio::maxC2ReadSectors * audio::c2RecordBytes> c2Buffer;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::SetScript({data, size});
    drive::DriveRecord drive;
    drive.rezeroAfterRead = (fuzzing::TakeScriptByte() & 1) != 0;
    const std::int32_t count = fuzzing::TakeScriptByte() % (audio::maxC2ReadSectors + 1);
    if (audio::FindC2Mode(0, drive) == audio::C2Search::found) {
        (void)audio::ReadAudioC2(c2Buffer, audioBuffer, count, 0, drive);
    }
    audio::RestoreDataDensity(drive);
    return 0;
}
