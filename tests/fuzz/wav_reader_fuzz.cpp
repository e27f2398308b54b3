// c2report's WAV reader over a file holding the fuzzer's bytes, then its reads of the audio
// around both ends of the region: every byte must be the file's inside the region and zero
// outside it.
#include <array>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "report/comparison/block_reader.h"
#include "report/comparison/wav_input.h"
#include "tests/fuzz/runtime_checks.h"
#include "tests/fuzz/scratch_file.h"

namespace {

const fuzzing::ScratchFile file("wav_reader_fuzz");
std::array<std::uint8_t, 4'096> out;

void CheckRead(report::RegionReader& reader, std::span<const std::uint8_t> region,
               std::int64_t position, std::size_t count) {
    const auto bytes = std::span(out).first(count);
    if (!reader.Read(position, bytes)) {
        std::abort();
    }
    for (std::size_t i = 0; i < count; ++i) {
        const std::int64_t at = position + static_cast<std::int64_t>(i);
        const bool inside = at >= 0 && at < static_cast<std::int64_t>(region.size());
        if (bytes[i] != (inside ? region[static_cast<std::size_t>(at)] : 0)) {
            std::abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::AbortOnRuntimeError();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    file.Write({reinterpret_cast<const char*>(data), size});
    std::string error;
    const auto layout = report::OpenCdWav(file.Path(), error);
    if (!layout) {
        return 0;
    }
    if (layout->dataStart > size || layout->dataBytes > size - layout->dataStart) {
        std::abort();  // a region that the file does not hold
    }
    const std::span<const std::uint8_t> region(data + layout->dataStart, layout->dataBytes);
    report::RegionReader reader(file.Path(), layout->dataStart, layout->dataBytes);
    const auto length = static_cast<std::int64_t>(region.size());
    for (const std::size_t count : {std::size_t{1}, std::size_t{7}, out.size()}) {
        const auto n = static_cast<std::int64_t>(count);
        for (const std::int64_t position : {-n - 1, -n + 1, std::int64_t{-1}, std::int64_t{0},
                                            length - n, length - 1, length, length + 1}) {
            CheckRead(reader, region, position, count);
        }
    }
    return 0;
}
