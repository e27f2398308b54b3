// c2report's WAV reader over a file holding the fuzzer's bytes.
#include <cstdint>
#include <string>

#include "report/wav_input.h"
#include "tests/fuzz/scratch_file.h"
#include "tests/fuzz/scripted_manager.h"

namespace {

const fuzzing::ScratchFile file("wav_reader_fuzz");

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::AbortOnRuntimeError();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    file.Write({reinterpret_cast<const char*>(data), size});
    std::string error;
    (void)report::OpenCdWav(file.Path(), error);
    return 0;
}
