// The left samples of planned frames at speed, with the same values as ExactLeftSample.
//
// A frame's mix is evaluated in double precision with a vectorised sine of the fundamental's
// phase and the angle-addition rotation over the harmonics. That value differs from the exact
// x87 mix by far less than `fastMixMargin` (the derivation is in reference/README.md); whenever
// it lies within the margin of a value where the 16-bit sample changes (a nonzero integer in the
// 16-bit range, which includes the clipping limits), the frame is recomputed exactly.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "reference/synthesis.h"

namespace reference {

// At least 30 times the largest possible difference between the fast and the exact mix.
inline constexpr double fastMixMargin = 0x1p-16;

// True when every mix within `margin` of `mix` gives the same 16-bit sample as `mix`.
[[nodiscard]] bool SampleIsSettled(double mix, double margin);

// The fast mix of `frame`, comparable with ExactMix; for measurements and tests.
[[nodiscard]] double FastMix(std::span<const ToneVoice, voiceCount> voices, std::int64_t frame,
                             std::optional<std::uint32_t> noiseDraw);

// The double sine and cosine of a phase in [0, 2^20] used by the fast mix; for tests.
struct SineCosine {
    double sine = 0.0;
    double cosine = 0.0;
};
[[nodiscard]] SineCosine FastSineCosine(double phase);

// Left samples of the plan's frames from offset `from` (relative to plan.firstFrame) on, one per
// entry of `left`, each equal to ExactLeftSample. `mixes`, when given, receives the fast mixes.
// Returns the number of frames that were recomputed exactly. Needs x87::UseExtendedNearest on
// the calling thread for those.
[[nodiscard]] std::int64_t FastLeftSamples(const FramePlan& plan, std::int64_t from,
                                           std::span<std::int16_t> left,
                                           std::span<double> mixes = {});

}  // namespace reference
