// `c2report --verify <Reference.wav> <drive>.submission.json`: every pass judged again from its
// evidence alone, by the verdict's own code, and each number held against the submission's.
#pragma once

#include <ostream>
#include <string>

namespace report {

// One line per pass; kExitOk only when every number of every pass matches and every pass could
// be judged again.
[[nodiscard]] int RunVerify(const std::string& referencePath, const std::string& submissionPath,
                            std::ostream& out, std::ostream& err);

}  // namespace report
