// The units of CD audio the comparison counts in.
#pragma once

#include <cstdint>

namespace report {

inline constexpr std::int64_t kSectorBytes = 2352;  // audio bytes per sector
inline constexpr std::int64_t kC2Bytes = 294;       // C2 pointer bytes per sector
// More sectors than any disc holds (99 minutes is 445,500): a bound on counts read from files.
inline constexpr std::int64_t kMaxDiscSectors = 450'000;
inline constexpr std::int64_t kFrameBytes = 4;      // one stereo frame: two 16-bit samples
inline constexpr std::int64_t kFramesPerSecond = 44100;
inline constexpr std::int64_t kSectorsPerSecond = 75;
inline constexpr std::int64_t kSectorsPerMinute = 60 * kSectorsPerSecond;

}  // namespace report
