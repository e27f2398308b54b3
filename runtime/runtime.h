// Runtime start-up: binds the console, keeps the command line, installs the fault report.
#pragma once

namespace runtime {

// The two programs' runtimes differ in a few visible details (see FormatFixed and the
// fault names); everything else is shared.
enum class Dialect { quellor, tamblin };

// Must run first in main(), on the main thread.
void InitRuntime(int argc, char** argv, Dialect dialect);

[[nodiscard]] Dialect CurrentDialect();

}  // namespace runtime
