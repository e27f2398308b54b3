#include "report/comparison/granularity.h"

#include "report/comparison/bit_counts.h"

namespace report {

void AddSector(std::uint64_t wrongBytes, std::uint64_t flaggedBytes, std::uint64_t detectedBytes,
               std::uint64_t onWrongSample, bool flaggedWhole, FlagGranularity& granularity) {
    const std::uint64_t falseFlags = flaggedBytes - detectedBytes;
    granularity.falseFlags += falseFlags;
    if (wrongBytes == 0) {
        granularity.inSectorWithoutErrors += falseFlags;
    } else {
        granularity.onWrongSample += onWrongSample;
        granularity.inSectorWithErrors += falseFlags - onWrongSample;
    }
    granularity.sectorsFlaggedWhole += flaggedWhole ? 1 : 0;
}

int FalseFlagsOnWrongSamples(std::uint64_t wrong, std::uint64_t flag) {
    const std::uint64_t samples = SampleMask(wrong);  // bits 6, 4, 2, 0 of each byte
    return Count(flag & ~wrong & (samples | samples << 1));
}

}  // namespace report
