#include "reference/fast_mix.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <utility>  // runtime/error.h uses std::in_range

#include "runtime/error.h"

namespace reference {
namespace {

// Written with the compiler's vector types so the evaluation is the same whatever the optimiser
// does and whatever the vector width: each lane sees the same operations in the same order.
// Lane values are reinterpreted with the builtin, never with a library template: an out-of-line
// instantiation would be shared by the forms, whose instructions and calling conventions differ.
// One specialisation per width: g++ 12 loses a vector_size that depends on a template parameter.
template <std::int32_t width>
struct Vector;
template <>
struct Vector<4> {
    using Lanes = double __attribute__((vector_size(4 * sizeof(double))));
    using Bits = std::uint64_t __attribute__((vector_size(4 * sizeof(double))));
    using Mask = std::int64_t __attribute__((vector_size(4 * sizeof(double))));
    using Draws = std::uint16_t __attribute__((vector_size(4 * sizeof(std::uint16_t))));
    using Whole = std::int32_t __attribute__((vector_size(4 * sizeof(std::int32_t))));
    using Samples = std::int16_t __attribute__((vector_size(4 * sizeof(std::int16_t))));
};
template <>
struct Vector<8> {
    using Lanes = double __attribute__((vector_size(8 * sizeof(double))));
    using Bits = std::uint64_t __attribute__((vector_size(8 * sizeof(double))));
    using Mask = std::int64_t __attribute__((vector_size(8 * sizeof(double))));
    using Draws = std::uint16_t __attribute__((vector_size(8 * sizeof(std::uint16_t))));
    using Whole = std::int32_t __attribute__((vector_size(8 * sizeof(std::int32_t))));
    using Samples = std::int16_t __attribute__((vector_size(8 * sizeof(std::int16_t))));
};

constexpr double pi = std::numbers::pi;
// The phase of one hertz after one frame, as the product of the image's double constants.
constexpr double phasePerHertzFrame = (2.0 * pi) * (1.0 / 44'100.0);
constexpr double fadeStep = 0.0002;
constexpr double thousandth = 0.001;
constexpr double noiseOffset = 8.0;
constexpr std::int32_t batchFrames = 512;

// Phases stay far below this bound (the image's fundamental reaches ~11,330 rad), which keeps
// the argument reduction exact.
constexpr double phaseLimit = 0x1p19;
// The harmonic loop stops at 22 kHz; below this every one of the 15 harmonics is present.
constexpr double allHarmonicsBelow = 21'000.0 / harmonicCount;

// Cody-Waite reduction by pi/2: the first part has 33 significant bits, so n x part exactly
// fits a double for n < 2^20, and the subtraction from the phase is exact.
constexpr double twoOverPi = 2.0 / pi;
constexpr double halfPiHigh = 0x1.921fb544p0;             // 1.57079632673412561417
constexpr double halfPiLow = 6.07710050650619224932e-11;  // pi/2 - halfPiHigh
constexpr double roundingShift = 0x1.8p52;  // adding it rounds to an integer kept in low bits

// Taylor coefficients 1/k! with alternating signs; on |r| <= pi/4 the first omitted terms are
// below 1e-19.
constexpr std::array<double, 8> sineTerms = {-1.0 / 6.0,
                                             1.0 / 120.0,
                                             -1.0 / 5'040.0,
                                             1.0 / 362'880.0,
                                             -1.0 / 39'916'800.0,
                                             1.0 / 6'227'020'800.0,
                                             -1.0 / 1'307'674'368'000.0,
                                             1.0 / 355'687'428'096'000.0};
constexpr std::array<double, 8> cosineTerms = {1.0 / 24.0,
                                               -1.0 / 720.0,
                                               1.0 / 40'320.0,
                                               -1.0 / 3'628'800.0,
                                               1.0 / 479'001'600.0,
                                               -1.0 / 87'178'291'200.0,
                                               1.0 / 20'922'789'888'000.0,
                                               -1.0 / 6'402'373'705'728'000.0};

template <typename Lanes>
struct LaneSineCosine {
    Lanes sine;
    Lanes cosine;
};

template <typename Lanes>
inline constexpr std::int32_t widthOf = sizeof(Lanes) / sizeof(double);

template <typename Lanes>
[[nodiscard, gnu::always_inline]] inline Lanes Broadcast(double value) {
    return Lanes{} + value;
}

// 0, 1, 2, ... in the lanes.
template <typename Lanes>
[[nodiscard, gnu::always_inline]] inline Lanes LaneNumbers() {
    Lanes numbers{};
    for (std::int32_t lane = 0; lane < widthOf<Lanes>; ++lane) {
        numbers[lane] = lane;
    }
    return numbers;
}

// sin and cos of phases in [0, 2^20), each within a few units in the last place.
template <typename Lanes, typename Bits = typename Vector<widthOf<Lanes>>::Bits>
[[nodiscard, gnu::always_inline]] inline LaneSineCosine<Lanes> SineCosineLanes(Lanes phase) {
    const Lanes shifted = phase * twoOverPi + roundingShift;
    const Lanes n = shifted - roundingShift;
    const Bits quadrant = __builtin_bit_cast(Bits, shifted) & 3u;
    const Lanes r = (phase - n * halfPiHigh) - n * halfPiLow;
    const Lanes z = r * r;

    Lanes sinePoly = Broadcast<Lanes>(sineTerms.back());
    for (std::size_t i = sineTerms.size() - 1; i-- > 0;) {
        sinePoly = sinePoly * z + sineTerms[i];
    }
    const Lanes sine = r + (r * z) * sinePoly;
    Lanes cosinePoly = Broadcast<Lanes>(cosineTerms.back());
    for (std::size_t i = cosineTerms.size() - 1; i-- > 0;) {
        cosinePoly = cosinePoly * z + cosineTerms[i];
    }
    const Lanes cosine = (1.0 - 0.5 * z) + (z * z) * cosinePoly;

    // Quadrant q: sin = s, c, -s, -c and cos = c, -s, -c, s.
    const Bits sineBits = __builtin_bit_cast(Bits, sine);
    const Bits cosineBits = __builtin_bit_cast(Bits, cosine);
    const Bits odd = -(quadrant & 1u);
    const Bits signOfSine = (quadrant & 2u) << 62;
    const Bits signOfCosine = ((quadrant + 1u) & 2u) << 62;
    return {__builtin_bit_cast(Lanes, ((sineBits & ~odd) | (cosineBits & odd)) ^ signOfSine),
            __builtin_bit_cast(Lanes, ((cosineBits & ~odd) | (sineBits & odd)) ^ signOfCosine)};
}

// What the tone of one segment needs, hoisted out of the frame loop.
struct ToneTerms {
    double startFrequency = 0.0;
    double sweep = 0.0;  // end frequency - start frequency, exact
    double inverseLength = 0.0;
    double length = 0.0;
    std::array<double, harmonicCount> amplitudes{};
    std::int64_t startFrame = 0;
    std::int64_t endFrame = 0;
    bool fits = false;  // within what the fast evaluation covers (always, in the image)
};
using EpochTerms = std::array<ToneTerms, voiceCount>;

[[nodiscard]] bool FastToneFits(const ToneVoice& voice) {
    const double highest = std::max(voice.startFrequency, voice.endFrequency);
    const double lowest = std::min(voice.startFrequency, voice.endFrequency);
    const auto length = static_cast<double>(voice.endFrame - voice.startFrame);
    return lowest > 0.0 && highest < allHarmonicsBelow &&
           length * highest * phasePerHertzFrame < phaseLimit;
}

[[nodiscard]] ToneTerms TermsOf(const ToneVoice& voice) {
    const auto length = static_cast<double>(voice.endFrame - voice.startFrame);
    return {voice.startFrequency,
            voice.endFrequency - voice.startFrequency,
            1.0 / length,
            length,
            HarmonicAmplitudes(voice),
            voice.startFrame,
            voice.endFrame,
            FastToneFits(voice)};
}

[[nodiscard]] EpochTerms TermsOf(std::span<const ToneVoice, voiceCount> voices) {
    EpochTerms terms;
    std::transform(voices.begin(), voices.end(), terms.begin(),
                   [](const ToneVoice& voice) { return TermsOf(voice); });
    return terms;
}

// The tone of one segment at the frames `rel` frames into it, for several groups of lanes at
// once: each step of the recurrence waits for the step before, so the groups' steps are
// interleaved to keep the arithmetic units busy. Without `fades`, every frame is known to lie
// where both fade factors are at least 1, so the factor is exactly 1 and its product is left out.
template <bool fades, typename Lanes, std::int32_t groups>
[[gnu::always_inline]] inline void ToneLanes(const ToneTerms& terms, const Lanes (&rel)[groups],
                                             Lanes (&tone)[groups]) {
    Lanes sine[groups];
    Lanes twoCosine[groups];
    for (std::int32_t g = 0; g < groups; ++g) {
        const Lanes f = terms.startFrequency + (terms.sweep * rel[g]) * terms.inverseLength;
        const LaneSineCosine<Lanes> first = SineCosineLanes((rel[g] * f) * phasePerHertzFrame);
        sine[g] = first.sine;
        twoCosine[g] = 2.0 * first.cosine;
    }
    // Clenshaw's sum of a[h-1] sin(h x) = sin(x) U(h-1)(cos x) over the harmonics h = 15 .. 1.
    Lanes next[groups];
    Lanes afterNext[groups];
    for (std::int32_t g = 0; g < groups; ++g) {
        next[g] = Broadcast<Lanes>(terms.amplitudes.back());
        afterNext[g] = Lanes{};
    }
    for (std::size_t h = terms.amplitudes.size() - 1; h-- > 0;) {
        for (std::int32_t g = 0; g < groups; ++g) {
            const Lanes b = (terms.amplitudes[h] - afterNext[g]) + twoCosine[g] * next[g];
            afterNext[g] = next[g];
            next[g] = b;
        }
    }
    if constexpr (!fades) {
        for (std::int32_t g = 0; g < groups; ++g) {
            tone[g] = next[g] * sine[g];
        }
        return;
    }
    // Linear fades over the first and last 5,000 frames (at most one applies).
    const Lanes one = Broadcast<Lanes>(1.0);
    for (std::int32_t g = 0; g < groups; ++g) {
        const Lanes fadeIn = rel[g] * fadeStep;
        const Lanes fadeOut = (terms.length - rel[g]) * fadeStep;
        Lanes fade = fadeIn < one ? fadeIn : one;
        fade = fadeOut < fade ? fadeOut : fade;
        tone[g] = (next[g] * sine[g]) * fade;
    }
}

// mix[0..lanes) += the first `lanes` lanes of `tone`.
template <typename Lanes>
[[gnu::always_inline]] inline void AddLanes(Lanes tone, std::int32_t lanes, double* mix) {
    if (lanes == widthOf<Lanes>) {
        Lanes sum;
        std::memcpy(&sum, mix, sizeof(sum));
        sum += tone;
        std::memcpy(mix, &sum, sizeof(sum));
        return;
    }
    for (std::int32_t lane = 0; lane < lanes; ++lane) {
        mix[lane] += tone[lane];
    }
}

// The tone at `count` consecutive frames from `firstRel` frames into its segment, added to
// mix[0..count), `groups` vectors of frames per step.
template <std::int32_t width, std::int32_t groups, bool fades>
[[gnu::always_inline]] inline void AddToneSteps(const ToneTerms& terms, std::int64_t firstRel,
                                                std::int32_t count, double* mix) {
    using Lanes = typename Vector<width>::Lanes;
    const Lanes first = static_cast<double>(firstRel) + LaneNumbers<Lanes>();
    for (std::int32_t i = 0; i < count; i += groups * width) {
        Lanes rel[groups];
        for (std::int32_t g = 0; g < groups; ++g) {
            rel[g] = first + static_cast<double>(i + g * width);
        }
        Lanes tones[groups];
        ToneLanes<fades>(terms, rel, tones);
        for (std::int32_t g = 0; g < groups; ++g) {
            AddLanes(tones[g], std::clamp(count - i - g * width, 0, width), mix + i + g * width);
        }
    }
}

template <std::int32_t width, std::int32_t groups>
[[gnu::always_inline]] inline void AddToneLanes(const ToneTerms& tone, std::int64_t firstRel,
                                                std::int32_t count, double* mix) {
    const ToneTerms terms = tone;
    // Both fade factors are monotonic in the frame (so are their roundings): checking the first
    // frame's fade-in and the last frame's fade-out covers every frame between.
    const auto lastRel = static_cast<double>(firstRel + count - 1);
    const bool fades =
        static_cast<double>(firstRel) * fadeStep < 1.0 || (terms.length - lastRel) * fadeStep < 1.0;
    if (fades) {
        AddToneSteps<width, groups, true>(terms, firstRel, count, mix);
    } else {
        AddToneSteps<width, groups, false>(terms, firstRel, count, mix);
    }
}

// The distance from `mix` (|mix| < 2^51) to the nearest integer, exactly: adding and removing
// 1.5 x 2^52 rounds to an integer, and mix minus an integer within 1/2 of it is exact. Ties
// round to even instead of away from zero, which gives the same distance, 1/2.
[[nodiscard, gnu::always_inline]] inline double DistanceToInteger(double mix) {
    return std::abs(mix - ((mix + roundingShift) - roundingShift));
}

// True when every mix within `margin` of `mix` gives the same 16-bit sample. NaN fails every
// comparison, so it is never settled.
[[nodiscard, gnu::always_inline]] inline bool Settled(double mix, double margin) {
    if (mix > 32'767.0 + margin || mix < -32'768.0 - margin) {
        return true;  // clipped either way
    }
    if (std::abs(mix) < 1.0 - margin) {
        return true;  // truncates to 0 either way
    }
    return DistanceToInteger(mix) > margin;
}

// The same test on lanes: all bits set where a lane is not settled.
template <std::int32_t width, typename V = Vector<width>>
[[nodiscard, gnu::always_inline]] inline typename V::Mask UnsettledLanes(typename V::Lanes mix) {
    using Lanes = typename V::Lanes;
    using Bits = typename V::Bits;
    const auto magnitude = [](Lanes value) {
        return __builtin_bit_cast(Lanes,
                                  __builtin_bit_cast(Bits, value) & ~(Bits{} + (1ULL << 63)));
    };
    const Lanes nearest = (mix + roundingShift) - roundingShift;
    return ~((mix > 32'767.0 + fastMixMargin) | (mix < -32'768.0 - fastMixMargin) |
             (magnitude(mix) < 1.0 - fastMixMargin) | (magnitude(mix - nearest) > fastMixMargin));
}

// The noise, the 16-bit samples and the settled test of mix[0..count) in lanes; the last frames
// that fill no whole vector one by one. True when any frame is not settled.
template <std::int32_t width, typename V = Vector<width>>
[[nodiscard, gnu::always_inline]] inline bool FinishLanes(const std::uint16_t* noise,
                                                          std::int32_t count, double* mix,
                                                          std::int16_t* left) {
    using Lanes = typename V::Lanes;
    typename V::Mask unsettled{};
    std::int32_t i = 0;
    for (; i + width <= count; i += width) {
        typename V::Draws draws;
        std::memcpy(&draws, noise + i, sizeof(draws));
        Lanes tones;
        std::memcpy(&tones, mix + i, sizeof(tones));
        const Lanes withNoise =
            __builtin_convertvector(draws, Lanes) * thousandth + (tones - noiseOffset);
        const Lanes sum = __builtin_convertvector(draws != noNoiseDraw, typename V::Mask) != 0
                              ? withNoise
                              : tones;
        // Clipped, NaN to -32,768 (never settled), then truncated toward zero.
        Lanes clipped = sum >= -32'768.0 ? sum : -32'768.0;
        clipped = clipped <= 32'767.0 ? clipped : 32'767.0;
        const auto samples = __builtin_convertvector(
            __builtin_convertvector(clipped, typename V::Whole), typename V::Samples);
        std::memcpy(mix + i, &sum, sizeof(sum));
        std::memcpy(left + i, &samples, sizeof(samples));
        unsettled |= UnsettledLanes<width>(sum);
    }
    bool any = false;
    for (std::int32_t lane = 0; lane < width; ++lane) {
        any |= unsettled[lane] != 0;
    }
    for (; i < count; ++i) {
        const double sum = noise[i] != noNoiseDraw
                               ? static_cast<double>(noise[i]) * thousandth + (mix[i] - noiseOffset)
                               : mix[i];
        mix[i] = sum;
        left[i] = ClipToSample(std::isnan(sum) ? -32'768.0 : sum);
        any |= !Settled(sum, fastMixMargin);
    }
    return any;
}

// Fast mixes of frames [firstFrame, firstFrame + count), all in one epoch, into mix[], and their
// samples into left[]; true when any of them is not settled and needs the exact arithmetic. NaN
// throughout if a voice's tone is outside what the fast evaluation covers (never in the image).
template <std::int32_t width, std::int32_t groups>
[[gnu::always_inline]] inline bool MixBatchLanes(const EpochTerms& voices, std::int64_t firstFrame,
                                                 const std::uint16_t* noise, std::int32_t count,
                                                 double* mix, std::int16_t* left) {
    for (std::int32_t i = 0; i < count; ++i) {
        mix[i] = 0.0;
    }
    const std::int64_t endFrame = firstFrame + count;
    for (const ToneTerms& voice : voices) {
        const std::int64_t from = std::max(firstFrame, voice.startFrame);
        const std::int64_t to = std::min(endFrame, voice.endFrame);
        if (from >= to) {
            continue;
        }
        if (!voice.fits) {
            for (std::int32_t i = 0; i < count; ++i) {
                mix[i] = std::numeric_limits<double>::quiet_NaN();
            }
            return true;
        }
        AddToneLanes<width, groups>(voice, from - voice.startFrame,
                                    static_cast<std::int32_t>(to - from),
                                    mix + (from - firstFrame));
    }
    return FinishLanes<width>(noise, count, mix, left);
}

using MixBatchFunction = bool (*)(const EpochTerms&, std::int64_t, const std::uint16_t*,
                                  std::int32_t, double*, std::int16_t*);

bool MixBatchPortable(const EpochTerms& voices, std::int64_t firstFrame, const std::uint16_t* noise,
                      std::int32_t count, double* mix, std::int16_t* left) {
    return MixBatchLanes<4, 2>(voices, firstFrame, noise, count, mix, left);
}

// Groups of vectors per step: as many independent chains as the registers hold (16 of them for
// SSE2 and AVX2, 32 for AVX-512); more spill, fewer leave the arithmetic units waiting.
// 32-bit Windows keeps to the portable form: its stack is not aligned for wider vectors.
#if defined(__x86_64__) && !defined(_WIN32)
#define REFERENCE_VECTOR_FORMS 1

[[gnu::target("avx2")]] bool MixBatchAvx2(const EpochTerms& voices, std::int64_t firstFrame,
                                          const std::uint16_t* noise, std::int32_t count,
                                          double* mix, std::int16_t* left) {
    return MixBatchLanes<4, 3>(voices, firstFrame, noise, count, mix, left);
}

[[gnu::target("avx512f,avx512dq")]] bool MixBatchAvx512(const EpochTerms& voices,
                                                        std::int64_t firstFrame,
                                                        const std::uint16_t* noise,
                                                        std::int32_t count, double* mix,
                                                        std::int16_t* left) {
    return MixBatchLanes<8, 4>(voices, firstFrame, noise, count, mix, left);
}
#endif

[[nodiscard]] MixBatchFunction MixBatchOf(FastMixForm form) {
    runtime::CheckRange(FormRuns(form));
    switch (form) {
#ifdef REFERENCE_VECTOR_FORMS
        case FastMixForm::avx2:
            return MixBatchAvx2;
        case FastMixForm::avx512:
            return MixBatchAvx512;
#endif
        default:
            return MixBatchPortable;
    }
}

[[nodiscard]] std::optional<std::uint32_t> NoiseDraw(std::uint16_t draw) {
    return draw == noNoiseDraw ? std::nullopt : std::optional<std::uint32_t>{draw};
}

}  // namespace

std::string_view FormName(FastMixForm form) {
    switch (form) {
        case FastMixForm::portable:
            return "portable";
        case FastMixForm::avx2:
            return "avx2";
        case FastMixForm::avx512:
            return "avx512";
    }
    return "unknown";
}

bool FormRuns(FastMixForm form) {
    switch (form) {
        case FastMixForm::portable:
            return true;
#ifdef REFERENCE_VECTOR_FORMS
        case FastMixForm::avx2:
            return __builtin_cpu_supports("avx2");
        case FastMixForm::avx512:
            return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq");
#endif
        default:
            return false;
    }
}

FastMixForm FastestForm() {
    for (auto form = fastMixForms.rbegin(); form != fastMixForms.rend(); ++form) {
        if (FormRuns(*form)) {
            return *form;
        }
    }
    return FastMixForm::portable;
}

bool SampleIsSettled(double mix, double margin) {
    return Settled(mix, margin);
}

SineCosine FastSineCosine(double phase) {
    using Lanes = Vector<4>::Lanes;
    const LaneSineCosine<Lanes> lanes = SineCosineLanes(Broadcast<Lanes>(phase));
    return {lanes.sine[0], lanes.cosine[0]};
}

double FastMix(std::span<const ToneVoice, voiceCount> voices, std::int64_t frame,
               std::optional<std::uint32_t> noiseDraw, FastMixForm form) {
    const std::uint16_t noise = noiseDraw ? static_cast<std::uint16_t>(*noiseDraw) : noNoiseDraw;
    double mix = 0.0;
    std::int16_t left = 0;
    (void)MixBatchOf(form)(TermsOf(voices), frame, &noise, 1, &mix, &left);
    return mix;
}

std::int64_t FastLeftSamples(const FramePlan& plan, std::int64_t from, std::span<std::int16_t> left,
                             std::span<double> mixes, FastMixForm form) {
    const std::int64_t end = from + std::ssize(left);
    runtime::CheckRange(0 <= from && end <= plan.FrameCount() && plan.epochCount > 0 &&
                        plan.epochStorage[0].firstFrame == plan.firstFrame &&
                        (mixes.empty() || mixes.size() == left.size()));
    const MixBatchFunction mixBatch = MixBatchOf(form);
    const std::span<const VoiceEpoch> epochs = plan.Epochs();
    // The epoch in force at `from`: the last one that begins at or before it.
    auto epoch = std::upper_bound(
                     epochs.begin(), epochs.end(), plan.firstFrame + from,
                     [](std::int64_t frame, const VoiceEpoch& e) { return frame < e.firstFrame; }) -
                 1;
    EpochTerms terms = TermsOf(epoch->voices);
    std::array<double, batchFrames> batch{};
    std::int64_t fallbacks = 0;
    for (std::int64_t offset = from; offset < end;) {
        const std::int64_t epochEnd = epoch + 1 == epochs.end()
                                          ? plan.FrameCount()
                                          : (epoch + 1)->firstFrame - plan.firstFrame;
        const auto count =
            static_cast<std::int32_t>(std::min({end, epochEnd, offset + batchFrames}) - offset);
        const auto out = static_cast<std::size_t>(offset - from);
        const std::uint16_t* noise = plan.noise.data() + offset;
        const std::int64_t firstFrame = plan.firstFrame + offset;
        if (mixBatch(terms, firstFrame, noise, count, batch.data(), left.data() + out)) {
            // Rare: a frame lies near a value where its sample changes.
            for (std::int32_t i = 0; i < count; ++i) {
                if (!SampleIsSettled(batch[static_cast<std::size_t>(i)], fastMixMargin)) {
                    left[out + static_cast<std::size_t>(i)] =
                        ExactLeftSample(epoch->voices, firstFrame + i, NoiseDraw(noise[i]));
                    ++fallbacks;
                }
            }
        }
        if (!mixes.empty()) {
            std::copy_n(batch.begin(), count, mixes.begin() + static_cast<std::ptrdiff_t>(out));
        }
        offset += count;
        if (offset == epochEnd && offset < end) {
            ++epoch;
            terms = TermsOf(epoch->voices);
        }
    }
    return fallbacks;
}

}  // namespace reference
