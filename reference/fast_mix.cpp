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

// Four frames at a time. Written with the compiler's vector types so the evaluation is the same
// whatever the optimiser does; plain SSE2 runs it as pairs. Lane values are reinterpreted with
// the builtin, never with a library template: an out-of-line instantiation would be shared by
// the AVX2 and the default clone of AddTone, whose vector calling conventions differ.
constexpr std::int32_t laneCount = 4;
using Lanes = double __attribute__((vector_size(laneCount * sizeof(double))));
using LaneBits = std::uint64_t __attribute__((vector_size(laneCount * sizeof(double))));

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

struct LaneSineCosine {
    Lanes sine;
    Lanes cosine;
};

[[nodiscard, gnu::always_inline]] inline Lanes Broadcast(double value) {
    return Lanes{} + value;
}

// sin and cos of phases in [0, 2^20), each within a few units in the last place.
[[nodiscard, gnu::always_inline]] inline LaneSineCosine SineCosineLanes(Lanes phase) {
    const Lanes shifted = phase * twoOverPi + roundingShift;
    const Lanes n = shifted - roundingShift;
    const LaneBits quadrant = __builtin_bit_cast(LaneBits, shifted) & 3u;
    const Lanes r = (phase - n * halfPiHigh) - n * halfPiLow;
    const Lanes z = r * r;

    Lanes sinePoly = Broadcast(sineTerms.back());
    for (std::size_t i = sineTerms.size() - 1; i-- > 0;) {
        sinePoly = sinePoly * z + sineTerms[i];
    }
    const Lanes sine = r + (r * z) * sinePoly;
    Lanes cosinePoly = Broadcast(cosineTerms.back());
    for (std::size_t i = cosineTerms.size() - 1; i-- > 0;) {
        cosinePoly = cosinePoly * z + cosineTerms[i];
    }
    const Lanes cosine = (1.0 - 0.5 * z) + (z * z) * cosinePoly;

    // Quadrant q: sin = s, c, -s, -c and cos = c, -s, -c, s.
    const LaneBits sineBits = __builtin_bit_cast(LaneBits, sine);
    const LaneBits cosineBits = __builtin_bit_cast(LaneBits, cosine);
    const LaneBits odd = -(quadrant & 1u);
    const LaneBits signOfSine = (quadrant & 2u) << 62;
    const LaneBits signOfCosine = ((quadrant + 1u) & 2u) << 62;
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
};

[[nodiscard]] bool FastToneFits(const ToneVoice& voice) {
    const double highest = std::max(voice.startFrequency, voice.endFrequency);
    const double lowest = std::min(voice.startFrequency, voice.endFrequency);
    const auto length = static_cast<double>(voice.endFrame - voice.startFrame);
    return lowest > 0.0 && highest < allHarmonicsBelow &&
           length * highest * phasePerHertzFrame < phaseLimit;
}

[[nodiscard]] ToneTerms TermsOf(const ToneVoice& voice) {
    const auto length = static_cast<double>(voice.endFrame - voice.startFrame);
    return {voice.startFrequency, voice.endFrequency - voice.startFrequency, 1.0 / length, length,
            HarmonicAmplitudes(voice)};
}

// The tone of one segment at the frames `rel` frames into it.
[[nodiscard, gnu::always_inline]] inline Lanes ToneLanes(const ToneTerms& terms, Lanes rel) {
    const Lanes f = terms.startFrequency + (terms.sweep * rel) * terms.inverseLength;
    const LaneSineCosine first = SineCosineLanes((rel * f) * phasePerHertzFrame);
    // Clenshaw's sum of a[h-1] sin(h x) = sin(x) U(h-1)(cos x) over the harmonics h = 15 .. 1.
    const Lanes twoCosine = 2.0 * first.cosine;
    Lanes next = Broadcast(terms.amplitudes.back());
    Lanes afterNext{};
    for (std::size_t h = terms.amplitudes.size() - 1; h-- > 0;) {
        const Lanes b = (terms.amplitudes[h] - afterNext) + twoCosine * next;
        afterNext = next;
        next = b;
    }
    // Linear fades over the first and last 5,000 frames (at most one applies).
    const Lanes one = Broadcast(1.0);
    const Lanes fadeIn = rel * fadeStep;
    const Lanes fadeOut = (terms.length - rel) * fadeStep;
    Lanes fade = fadeIn < one ? fadeIn : one;
    fade = fadeOut < fade ? fadeOut : fade;
    return (next * first.sine) * fade;
}

[[gnu::always_inline]] inline void AddLanes(Lanes tone, std::int32_t lanes, double* mix) {
    for (std::int32_t lane = 0; lane < lanes; ++lane) {
        mix[lane] += tone[lane];
    }
}

// The tone at `count` consecutive frames from `firstRel` frames into its segment, added to
// mix[0..count). Two groups of lanes per step keep two independent chains in flight.
#if defined(__linux__) && defined(__x86_64__)
__attribute__((target_clones("avx2", "default")))
#endif
void AddTone(const ToneTerms& tone, std::int64_t firstRel, std::int32_t count, double* mix) {
    const ToneTerms terms = tone;
    Lanes rel = static_cast<double>(firstRel) + Lanes{0.0, 1.0, 2.0, 3.0};
    for (std::int32_t i = 0; i < count; i += 2 * laneCount, rel += 2 * laneCount) {
        const Lanes first = ToneLanes(terms, rel);
        const Lanes second = ToneLanes(terms, rel + laneCount);
        AddLanes(first, std::min(laneCount, count - i), mix + i);
        AddLanes(second, std::clamp(count - i - laneCount, 0, laneCount), mix + i + laneCount);
    }
}

// Fast mixes of frames [firstFrame, firstFrame + mix.size()), all in one epoch; NaN throughout
// if a voice's tone is outside what the fast evaluation covers (never in the image).
void MixBatch(std::span<const ToneVoice, voiceCount> voices, std::int64_t firstFrame,
              std::span<const std::uint16_t> noise, std::span<double> mix) {
    std::fill(mix.begin(), mix.end(), 0.0);
    const std::int64_t endFrame = firstFrame + std::ssize(mix);
    for (const ToneVoice& voice : voices) {
        const std::int64_t from = std::max(firstFrame, voice.startFrame);
        const std::int64_t to = std::min(endFrame, voice.endFrame);
        if (from >= to) {
            continue;
        }
        if (!FastToneFits(voice)) {
            std::fill(mix.begin(), mix.end(), std::numeric_limits<double>::quiet_NaN());
            return;
        }
        AddTone(TermsOf(voice), from - voice.startFrame, static_cast<std::int32_t>(to - from),
                mix.data() + (from - firstFrame));
    }
    for (std::size_t i = 0; i < mix.size(); ++i) {
        if (noise[i] != noNoiseDraw) {
            mix[i] = static_cast<double>(noise[i]) * thousandth + (mix[i] - noiseOffset);
        }
    }
}

[[nodiscard]] std::optional<std::uint32_t> NoiseDraw(std::uint16_t draw) {
    return draw == noNoiseDraw ? std::nullopt : std::optional<std::uint32_t>{draw};
}

}  // namespace

bool SampleIsSettled(double mix, double margin) {
    if (std::isnan(mix)) {
        return false;
    }
    if (mix > 32'767.0 + margin || mix < -32'768.0 - margin) {
        return true;  // clipped either way
    }
    if (std::abs(mix) < 1.0 - margin) {
        return true;  // truncates to 0 either way
    }
    return std::abs(mix - std::round(mix)) > margin;
}

SineCosine FastSineCosine(double phase) {
    const LaneSineCosine lanes = SineCosineLanes(Broadcast(phase));
    return {lanes.sine[0], lanes.cosine[0]};
}

double FastMix(std::span<const ToneVoice, voiceCount> voices, std::int64_t frame,
               std::optional<std::uint32_t> noiseDraw) {
    const std::array<std::uint16_t, 1> noise = {noiseDraw ? static_cast<std::uint16_t>(*noiseDraw)
                                                          : noNoiseDraw};
    std::array<double, 1> mix{};
    MixBatch(voices, frame, noise, mix);
    return mix[0];
}

std::int64_t FastLeftSamples(const FramePlan& plan, std::int64_t from, std::span<std::int16_t> left,
                             std::span<double> mixes) {
    const std::int64_t end = from + std::ssize(left);
    runtime::CheckRange(0 <= from && end <= plan.FrameCount() && plan.epochCount > 0 &&
                        plan.epochStorage[0].firstFrame == plan.firstFrame &&
                        (mixes.empty() || mixes.size() == left.size()));
    const std::span<const VoiceEpoch> epochs = plan.Epochs();
    // The epoch in force at `from`: the last one that begins at or before it.
    auto epoch = std::upper_bound(
                     epochs.begin(), epochs.end(), plan.firstFrame + from,
                     [](std::int64_t frame, const VoiceEpoch& e) { return frame < e.firstFrame; }) -
                 1;
    std::array<double, batchFrames> batch{};
    std::int64_t fallbacks = 0;
    for (std::int64_t offset = from; offset < end;) {
        const std::int64_t epochEnd = epoch + 1 == epochs.end()
                                          ? plan.FrameCount()
                                          : (epoch + 1)->firstFrame - plan.firstFrame;
        const std::int64_t count = std::min({end, epochEnd, offset + batchFrames}) - offset;
        const std::span<double> mix = std::span{batch}.first(static_cast<std::size_t>(count));
        const auto noise = plan.noise.subspan(static_cast<std::size_t>(offset), mix.size());
        MixBatch(epoch->voices, plan.firstFrame + offset, noise, mix);
        for (std::size_t i = 0; i < mix.size(); ++i) {
            const auto out = static_cast<std::size_t>(offset - from) + i;
            if (SampleIsSettled(mix[i], fastMixMargin)) {
                left[out] = ClipToSample(mix[i]);
            } else {
                const std::int64_t frame = plan.firstFrame + offset + static_cast<std::int64_t>(i);
                left[out] = ExactLeftSample(epoch->voices, frame, NoiseDraw(noise[i]));
                ++fallbacks;
            }
            if (!mixes.empty()) {
                mixes[out] = mix[i];
            }
        }
        offset += count;
        if (offset == epochEnd) {
            ++epoch;
        }
    }
    return fallbacks;
}

}  // namespace reference
