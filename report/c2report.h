// The c2report program body: checks the three files, aligns, compares, reports.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "report/judge.h"

namespace report {

struct Verdict;

// Checks the three files, aligns and compares: fills `verdict` and returns kExitOk, or reports
// the failure to `err` and returns its exit code. Notes about odd headers go to `out`.
[[nodiscard]] int BuildVerdict(const std::vector<std::string>& arguments, Verdict& verdict,
                               std::ostream& out, std::ostream& err);

// Runs `c2report <Reference.wav> <drive>.wav <drive>.c2` (or --compare, --study); the summary
// goes to `out`, failures to `err`. Writes the verdict's files beside the drive's WAV file.
[[nodiscard]] int RunC2Report(const std::vector<std::string>& arguments, std::ostream& out,
                              std::ostream& err);

}  // namespace report
