// The study page, <drive>.study.html: the drive's identity, then the study's passes as a matrix
// (forms down, speeds across), each cell linking to its pass's report page, then the passes
// ranked as the console shows them. Every number carries its verdict (data-verdict) and its
// field there (data-json).
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "report/output/ranking.h"
#include "report/study.h"

namespace report {

struct UnjudgedPass {
    std::string form, speed;
    std::string reason;
};

void WriteStudyPage(const StudyFile& study, const std::vector<RankedDrive>& ranked,
                    const std::vector<UnjudgedPass>& unjudged, const std::string& pageFolder,
                    std::ostream& out);

}  // namespace report
