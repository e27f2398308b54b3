// The picture of a comparison: errors and flags along the disc, minutes on the x axis.
#pragma once

#include <ostream>
#include <string>

#include "report/output/summary.h"

namespace report {

// A coordinate or length as the charts write it: one decimal.
[[nodiscard]] std::string SvgNumber(double v);
// A <text> element at (x, y), `text` escaped; `upright` turns it to read upwards.
void SvgText(std::ostream& out, double x, double y, const std::string& text,
             const char* anchor = "start", int size = 12, bool upright = false);

// Above the axis: wrong bytes per stretch of the disc (log scale), the detected share green,
// the missed share red; below it: false flags, orange; zero-filled stretches shaded grey.
// Each bar carries data-first-sector / data-end-sector / data-bytes for tools that read it.
void WriteChart(const Verdict& verdict, const std::string& title, std::ostream& out);

}  // namespace report
