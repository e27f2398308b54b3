// The picture of a comparison: errors and flags along the disc, minutes on the x axis.
#pragma once

#include <ostream>
#include <string>

#include "report/output/summary.h"

namespace report {

// Above the axis: wrong bytes per stretch of the disc (log scale), the detected share green,
// the missed share red; below it: false flags, orange; zero-filled stretches shaded grey.
// Each bar carries data-first-sector / data-end-sector / data-bytes for tools that read it.
void WriteChart(const Verdict& verdict, const std::string& title, std::ostream& out);

}  // namespace report
