// The read speeds a study asks for: `--speeds 8x,max`.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace extract {

inline constexpr std::uint16_t fastestReadSpeed = 0xFFFF;  // SET CD SPEED: the drive's fastest

struct StudySpeed {
    std::string text;        // as written in the list: "8x", "max"; it names the pass's files
    std::uint16_t kBps = 0;  // for SET CD SPEED's read-speed field
};

// A comma list of `Nx` (N x 176.4 kB/s, rounded up to a whole kB/s; N from 1 to 371, the
// most the field holds) and `max`. Nothing for an empty item, anything else, or a speed given
// twice (its passes would write the same files).
[[nodiscard]] std::optional<std::vector<StudySpeed>> ParseSpeedList(std::string_view list);

}  // namespace extract
