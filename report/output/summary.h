// What the comparison tells a person: the console summary and the per-sector table.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "report/comparison/alignment.h"
#include "report/comparison/comparison.h"
#include "report/output/text.h"

namespace report {

// A run of sectors with errors or flags (gaps of a few clean sectors joined).
struct Region {
    std::int64_t first = 0;
    std::int64_t end = 0;  // one past the last sector
    Tally bytes;
    std::int64_t zeroFilled = 0;
};

// The SHA-256 of the genuine reference image, as its generator writes it.
inline constexpr const char* kGenuineReferenceSha256 =
    "058e838a14c24686f556042d9eb6f5ac50476c75fdce8265c94b80d5ceb30310";

struct InputFile {
    std::string path;
    std::uint64_t bytes = 0;
};

// Which pass of a drive study a verdict judges, as the study file names it.
struct StudyPassIdentity {
    std::string vendor, product, revision;
    std::string form;                           // readcd14, d8, density, readcd12
    std::optional<std::string> speedRequested;  // "max" or "Nx"; none: read without a speed list
    std::optional<std::int64_t> speedReportedKBps;
    bool completed = true;  // false: the pass stopped early and is judged over what it holds
};

// How tables and pages name a pass's speed: as the list gave it, or the drive's own when the
// study was read without one.
[[nodiscard]] inline std::string SpeedLabel(const std::optional<std::string>& requested) {
    return requested.value_or("drive's own speed");
}

struct Verdict {
    InputFile reference, extraction, c2;
    std::string referenceSha256;
    bool genuineReference = false;
    Alignment alignment;
    Coverage coverage;
    PassResult literal;
    ShiftScore best;                  // best alignment of the pointers (may be the literal one)
    std::optional<PassResult> moved;  // the full pass with the best alignment, when it differs
    std::optional<StudyPassIdentity> study;
    [[nodiscard]] const PassResult& Best() const { return moved ? *moved : literal; }
};

[[nodiscard]] std::vector<Region> FindRegions(const std::vector<SectorCounts>& sectors);
// All regions, most missed bytes first (then most wrong, then most false flags); reports show
// the first kWorstRegions.
[[nodiscard]] std::vector<Region> WorstRegions(const std::vector<SectorCounts>& sectors);
inline constexpr std::size_t kWorstRegions = 5;

void WriteSummary(const Verdict& verdict, std::ostream& out);
// One line per compared sector; the moved alignment's columns follow when it differs.
void WriteSectorTable(const Verdict& verdict, std::ostream& out);

}  // namespace report
