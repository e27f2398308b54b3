// The left samples of planned frames at speed, with the same values as ExactLeftSample.
//
// A frame's mix is evaluated in double precision with a vectorised sine of the fundamental's
// phase and the angle-addition rotation over the harmonics. That value differs from the exact
// x87 mix by far less than `fastMixMargin` (the derivation is in reference/README.md); whenever
// it lies within the margin of a value where the 16-bit sample changes (a nonzero integer in the
// 16-bit range, which includes the clipping limits), the frame is recomputed exactly.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "reference/synthesis.h"

namespace reference {

// At least 30 times the largest possible difference between the fast and the exact mix.
inline constexpr double fastMixMargin = 0x1p-16;

// How the fast mix is evaluated: the same operations in the same order on every lane, so every
// form gives the same doubles; they differ in how many frames one instruction covers. The vector
// forms exist in x86-64 builds outside Windows and run where the processor has their instructions.
enum class FastMixForm : std::uint8_t {
    portable,  // four frames per vector, as pairs on plain SSE2
    avx2,      // four frames per vector
    avx512,    // eight frames per vector (AVX-512 F and DQ)
};
inline constexpr std::array<FastMixForm, 3> fastMixForms = {FastMixForm::portable,
                                                            FastMixForm::avx2, FastMixForm::avx512};

// "portable", "avx2", "avx512".
[[nodiscard]] std::string_view FormName(FastMixForm form);
// True when this build has the form and this processor can run it.
[[nodiscard]] bool FormRuns(FastMixForm form);
// The widest form that runs here.
[[nodiscard]] FastMixForm FastestForm();

// True when every mix within `margin` of `mix` gives the same 16-bit sample as `mix`.
[[nodiscard]] bool SampleIsSettled(double mix, double margin);

// The fast mix of `frame`, comparable with ExactMix; for measurements and tests.
[[nodiscard]] double FastMix(std::span<const ToneVoice, voiceCount> voices, std::int64_t frame,
                             std::optional<std::uint32_t> noiseDraw,
                             FastMixForm form = FastMixForm::portable);

// The double sine and cosine of a phase in [0, 2^20] used by the fast mix; for tests.
struct SineCosine {
    double sine = 0.0;
    double cosine = 0.0;
};
[[nodiscard]] SineCosine FastSineCosine(double phase);

// Left samples of the plan's frames from offset `from` (relative to plan.firstFrame) on, one per
// entry of `left`, each equal to ExactLeftSample. `mixes`, when given, receives the fast mixes.
// Returns the number of frames that were recomputed exactly. Needs x87::UseExtendedNearest on
// the calling thread for those. A form that does not run here is a runtime error.
[[nodiscard]] std::int64_t FastLeftSamples(const FramePlan& plan, std::int64_t from,
                                           std::span<std::int16_t> left,
                                           std::span<double> mixes = {},
                                           FastMixForm form = FastestForm());

}  // namespace reference
