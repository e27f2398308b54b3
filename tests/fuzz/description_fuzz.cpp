// The simulated drive's description parser, with every WAV disc made from one small image.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "simdrive/audio_source.h"
#include "simdrive/description.h"
#include "tests/fuzz/runtime_checks.h"
#include "tests/fuzz/scratch_file.h"

namespace {

// A described path could name a device or a pipe that never ends: one real image instead.
const fuzzing::ScratchFile image("description_fuzz.wav");
simdrive::LoadOptions options;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::AbortOnRuntimeError();
    options.wavOverride = image.Path();
    std::string error;
    simdrive::PatternSource pattern(3, 1);
    if (!simdrive::WriteWavFile(image.Path(), pattern, error)) {
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string error;
    (void)simdrive::DriveSet::Parse(text, "", options, "fuzz", error);
    return 0;
}
