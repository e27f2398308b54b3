// The chart of a model page: detection and false-flag rate against the requested speed, one
// pair of lines per (revision, form), in the style of the report's chart.
#pragma once

#include <ostream>
#include <vector>

#include "pool/statistics.h"

namespace pool {

// `rows` are one model's; `speeds` their speeds in the order shown. Detection is drawn above
// (0 to 100 %, dots), the false-flag rate below on its own scale (dashed, squares), each point
// with its 95 % interval as a whisker; a row too little damaged to judge is drawn hollow.
void WriteSpeedChart(const std::vector<const RowFigures*>& rows,
                     const std::vector<std::string>& speeds, std::ostream& out);

}  // namespace pool
