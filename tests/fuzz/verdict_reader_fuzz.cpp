// c2report's verdict reader (what --compare takes) over a file holding the fuzzer's bytes: it
// must refuse with a sentence or return a row whose figures keep their ranges.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "report/input/json_file.h"
#include "report/output/ranking.h"
#include "tests/fuzz/runtime_checks.h"
#include "tests/fuzz/scratch_file.h"

namespace {

const fuzzing::ScratchFile file("verdict_reader_fuzz");

bool InRate(const std::optional<double>& rate) {
    return !rate || (*rate >= 0 && *rate <= 1);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::AbortOnRuntimeError();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    file.Write({reinterpret_cast<const char*>(data), size});
    std::string error;
    const auto row = report::ReadVerdictRow(file.Path(), error);
    if (!row) {
        if (error.empty()) {
            std::abort();  // a refusal must say why
        }
        return 0;
    }
    if (row->missedBytes > row->bytesCompared || row->unreadableSectors < 0 ||
        row->unreadableSectors > 450'000 || row->referenceSha256.size() != 64 ||
        !InRate(row->falseFlagRate) || !InRate(row->detectionRate) ||
        !InRate(row->literalFalseFlagRate) || !(row->missedPerMillion >= 0) ||
        !(row->missedPerMillion <= 1e6)) {
        std::abort();
    }
    return 0;
}
