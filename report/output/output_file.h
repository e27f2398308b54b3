// Output files written whole or not at all: under a temporary name first, renamed when
// complete, so a failed write never leaves a half-written file under the final name.
#pragma once

#include <functional>
#include <ostream>
#include <string>

namespace report {

[[nodiscard]] bool WriteWholeFile(const std::string& path,
                                  const std::function<void(std::ostream&)>& write);

}  // namespace report
