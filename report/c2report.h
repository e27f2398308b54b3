// The c2report program body: checks the three files, aligns, compares, reports.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace report {

inline constexpr int kExitOk = 0;
inline constexpr int kExitBadInput = 1;  // usage, a missing or unfit file, no offset fits
inline constexpr int kExitIoError = 2;   // a read or write failed on the way

struct Verdict;

// Checks the three files, aligns and compares: fills `verdict` and returns kExitOk, or reports
// the failure to `err` and returns its exit code. Notes about odd headers go to `out`.
[[nodiscard]] int BuildVerdict(const std::vector<std::string>& arguments, Verdict& verdict,
                               std::ostream& out, std::ostream& err);

// Runs `c2report <Reference.wav> <drive>.wav <drive>.c2`; the summary goes to `out`, failures
// to `err`. Writes <drive>.report.csv and <drive>.report.svg beside the drive's WAV file.
[[nodiscard]] int RunC2Report(const std::vector<std::string>& arguments, std::ostream& out,
                              std::ostream& err);

}  // namespace report
