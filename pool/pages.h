// What the site is made of: the index (models ranked), a page per model, and the figures as
// CSV and JSON. Each is built whole from the figures; every text that came from a submission
// is escaped where it lands (HTML, SVG, CSV). The site decides what to write.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "pool/pooled.h"
#include "pool/statistics.h"

namespace pool {

// The file name of a model's page: its vendor and product reduced to lower-case letters,
// digits and dashes, and a hash of both, so that no text of theirs can make it a path, a
// hidden file or another model's name. "drive-<name>-<10 hex digits>.html".
[[nodiscard]] std::string ModelPageName(const DriveModel& model);
// Whether `name` could be a name ModelPageName gives.
[[nodiscard]] bool IsModelPageName(const std::string& name);

void WriteIndexPage(const PoolFigures& figures, std::ostream& out);

// The page of `model`: its rows (revisions down, form and speed across), the chart, and its
// submissions as the pool lists them.
void WriteModelPage(const DriveModel& model, const std::vector<const RowFigures*>& rows,
                    PoolReader& pool, std::ostream& out);

// Every row with every figure, in ranking order. The columns are listed in pool/pages.cpp.
void WritePoolCsv(const PoolFigures& figures, std::ostream& out);
void WritePoolJson(const PoolFigures& figures, std::ostream& out);

}  // namespace pool
