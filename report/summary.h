// What the comparison tells a person: the console summary and the per-sector table.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "report/alignment.h"
#include "report/comparison.h"
#include "report/text.h"

namespace report {

// A run of sectors with errors or flags (gaps of a few clean sectors joined).
struct Region {
    std::int64_t first = 0;
    std::int64_t end = 0;  // one past the last sector
    Tally bytes;
    std::int64_t zeroFilled = 0;
};

struct Verdict {
    std::string referencePath, wavPath, c2Path;
    Alignment alignment;
    std::int64_t sectors = 0;
    std::int64_t framesOutsideReference = 0;
    PassResult literal;
    ShiftScore best;                  // best alignment of the pointers (may be the literal one)
    std::optional<PassResult> moved;  // the full pass with the best alignment, when it differs
};

[[nodiscard]] std::vector<Region> FindRegions(const std::vector<SectorCounts>& sectors);

void WriteSummary(const Verdict& verdict, std::ostream& out);
// One line per sector; the moved alignment's columns follow when it differs.
void WriteSectorTable(const Verdict& verdict, std::ostream& out);

}  // namespace report
