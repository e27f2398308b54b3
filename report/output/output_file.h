// Output files written whole or not at all: under a temporary name first, renamed when
// complete, so a failed write never leaves a half-written file under the final name.
#pragma once

#include <functional>
#include <ostream>
#include <string>

namespace report {

[[nodiscard]] bool WriteWholeFile(const std::string& path,
                                  const std::function<void(std::ostream&)>& write);

// The console text is what people read: losing it (a full disk, a closed pipe) is a failure,
// even when the files were written. Flushes `out`; false, with `message` on `err`, when it could
// not be written.
[[nodiscard]] bool FlushConsole(std::ostream& out, std::ostream& err, const char* message);

}  // namespace report
