// The c2pool program body: add, remove, site and check, each reporting to the two streams.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace pool {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // usage, a refused submission, a pool that cannot be used

// Runs `c2pool <command> ...`; what was done goes to `out`, what failed to `err`. `terminal`:
// `out` is a terminal, where the progress line of a long add is rewritten in place.
[[nodiscard]] int RunC2Pool(const std::vector<std::string>& arguments, std::ostream& out,
                            std::ostream& err, bool terminal);

}  // namespace pool
