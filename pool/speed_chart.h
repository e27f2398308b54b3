// The chart of a model page: detection and false-flag rate against the requested speed, one
// pair of lines per (revision, form), in the style of the report's chart.
#pragma once

#include <ostream>
#include <vector>

#include "pool/statistics.h"

namespace pool {

// `rows` are one model's; `speeds` their speeds in the order shown. Detection is drawn solid
// with dots, the false-flag rate dashed with squares, each with its 95 % interval as a
// whisker; a row too little damaged to judge is drawn hollow.
void WriteSpeedChart(const std::vector<const RowFigures*>& rows,
                     const std::vector<std::string>& speeds, std::ostream& out);

}  // namespace pool
