#include "reference/synthesis.h"

#include <algorithm>
#include <numbers>
#include <utility>  // runtime/error.h uses std::in_range

#include "reference/x87.h"
#include "runtime/error.h"

namespace reference {

// Every real expression below is evaluated in x87 extended precision and rounded to double only
// where its value is stored; the written order of the operations is part of the definition.
// Constants that are doubles (0.01, 0.001, 0.15, 0.0002, pi, 1/44,100) widen exactly from their
// double values, never from a longer decimal literal.
namespace {

using Extended = long double;

constexpr double hundredth = 0.01;
constexpr double thousandth = 0.001;
constexpr double fadeStep = 0.0002;  // linear fade over 5,000 frames
constexpr double decayBase = 0.15;
constexpr double pi = std::numbers::pi;
constexpr double framePeriod = 1.0 / 44'100.0;
constexpr double frequencyLimit = 22'000.0;
constexpr double harmonicLimit = 16.0;
constexpr std::int64_t fadeFrames = 5'000;
constexpr std::int64_t guardStartFrame = imageFrames;
constexpr std::int64_t guardEndFrame = imageFrames + 10'000;

[[nodiscard]] Extended Widen(double value) {
    return static_cast<Extended>(value);
}
[[nodiscard]] Extended Widen(std::int64_t value) {
    return static_cast<Extended>(value);
}
[[nodiscard]] Extended Widen(std::uint32_t value) {
    return static_cast<Extended>(value);
}
// The store to a double variable: one rounding of the extended value, to nearest.
[[nodiscard]] double Store(Extended value) {
    return static_cast<double>(value);
}

}  // namespace

void RandomGenerator::SeedRandom(std::uint32_t seed) {
    table_[1] = seed;
    for (std::size_t i = 1; i <= 54; ++i) {
        table_[i + 1] = table_[i] * 9'821u + 1u;
    }
    j_ = 1;
    k_ = 33;
}

void RandomGenerator::DrawBelow(std::uint32_t n, std::span<std::uint16_t> draws) {
    runtime::CheckRange(0 < n && n <= 65'536);
    for (std::size_t done = 0; done < draws.size();) {
        draws[done++] = static_cast<std::uint16_t>(RandomBelow(n));
        // Until j or k wraps, both just count up: a loop without the wrap tests.
        const auto run = std::min({static_cast<std::size_t>(55 - j_),
                                   static_cast<std::size_t>(55 - k_), draws.size() - done});
        std::uint32_t* const table = table_.data();
        const auto j = static_cast<std::size_t>(j_) + 1;
        const auto k = static_cast<std::size_t>(k_) + 1;
        for (std::size_t t = 0; t < run; ++t) {
            table[j + t] += table[k + t];
            draws[done + t] = static_cast<std::uint16_t>(table[j + t] % n);
        }
        j_ += static_cast<std::int32_t>(run);
        k_ += static_cast<std::int32_t>(run);
        done += run;
    }
}

void PickSegment(ToneVoice& voice, RandomGenerator& random, std::int64_t frame) {
    if (frame + endGuard >= imageFrames) {
        voice.startFrame = guardStartFrame;
        voice.endFrame = guardEndFrame;
        return;
    }
    voice.startFrequency =
        Store(Widen(random.RandomBelow(120'000)) * Widen(hundredth) + Widen(100.0));
    voice.endFrequency =
        Store((Widen(random.RandomBelow(5'000)) * Widen(hundredth) + Widen(voice.startFrequency)) -
              Widen(25.0));
    voice.amplitude = Store(Widen(random.RandomBelow(4'096)));
    voice.decay = Store(Widen(random.RandomBelow(100)) * Widen(thousandth) + Widen(decayBase));
    voice.startFrame = frame + random.RandomBelow(50'000);
    voice.endFrame = (voice.startFrame + 10'000) + random.RandomBelow(50'000);
}

double ToneSample(const ToneVoice& voice, std::int64_t frame) {
    const std::int64_t rel = frame - voice.startFrame;
    const std::int64_t len = voice.endFrame - voice.startFrame;
    const double relReal = Store(Widen(rel));
    const double f =
        Store((Widen(voice.endFrequency) - Widen(voice.startFrequency)) * Widen(rel) / Widen(len) +
              Widen(voice.startFrequency));
    double r = 0.0;
    double a = voice.amplitude;
    double h = 1.0;
    while (Widen(h) * Widen(f) < Widen(frequencyLimit) && h < harmonicLimit) {
        const Extended phase = (((Widen(relReal) * Widen(2.0)) * Widen(pi)) * Widen(h)) * Widen(f) *
                               Widen(framePeriod);
        r = Store(Widen(r) + Widen(a) * x87::Sine(phase));
        a = Store(Widen(voice.decay) * Widen(a));
        h = Store(Widen(h) + Widen(1.0));
    }
    if (rel < fadeFrames) {
        r = Store((Widen(rel) * Widen(r)) * Widen(fadeStep));
    }
    const std::int64_t framesLeft = voice.endFrame - frame;
    if (framesLeft < fadeFrames) {
        r = Store((Widen(framesLeft) * Widen(r)) * Widen(fadeStep));
    }
    return r;
}

double AddVoice(double sum, double voiceSample) {
    return Store(Widen(voiceSample) + Widen(sum));
}

double AddNoise(double sum, std::uint32_t draw) {
    return Store(Widen(draw) * Widen(thousandth) + (Widen(sum) - Widen(8.0)));
}

std::array<double, harmonicCount> HarmonicAmplitudes(const ToneVoice& voice) {
    std::array<double, harmonicCount> amplitudes{};
    double a = voice.amplitude;
    for (double& amplitude : amplitudes) {
        amplitude = a;
        a = Store(Widen(voice.decay) * Widen(a));
    }
    return amplitudes;
}

double ExactMix(std::span<const ToneVoice, voiceCount> voices, std::int64_t frame,
                std::optional<std::uint32_t> noiseDraw) {
    double sum = 0.0;
    for (const ToneVoice& voice : voices) {
        if (Sounds(voice, frame)) {
            sum = AddVoice(sum, ToneSample(voice, frame));
        }
    }
    if (noiseDraw) {
        sum = AddNoise(sum, *noiseDraw);
    }
    return sum;
}

std::int16_t ExactLeftSample(std::span<const ToneVoice, voiceCount> voices, std::int64_t frame,
                             std::optional<std::uint32_t> noiseDraw) {
    return ClipToSample(ExactMix(voices, frame, noiseDraw));
}

std::int16_t DelayLine::Push(std::int16_t left) {
    const std::int16_t oldest = values_[0];
    for (std::size_t i = 0; i + 1 < values_.size(); ++i) {
        values_[i] = values_[i + 1];
    }
    values_.back() = left;
    return oldest;
}

Synthesis::Synthesis() {
    x87::UseExtendedNearest();
}

void Synthesis::BeginImage() {
    SeedRandom(imageSeed);
    for (std::int32_t voice = 0; voice < voiceCount; ++voice) {
        PickSegment(voice, leadInFrames);
    }
    ClearDelayLine();
    nextFrame_ = 0;
}

void Synthesis::PickSegment(std::int32_t voice, std::int64_t frame) {
    runtime::CheckIndex(static_cast<std::size_t>(voice), voices_.size());
    reference::PickSegment(voices_[static_cast<std::size_t>(voice)], random_, frame);
}

const ToneVoice& Synthesis::Voice(std::int32_t voice) const {
    runtime::CheckIndex(static_cast<std::size_t>(voice), voices_.size());
    return voices_[static_cast<std::size_t>(voice)];
}

double Synthesis::VoiceSample(std::int32_t voice, std::int64_t frame) {
    const ToneVoice& tone = Voice(voice);
    if (frame < tone.startFrame) {
        return 0.0;
    }
    if (frame >= tone.endFrame) {
        PickSegment(voice, frame);
        return 0.0;
    }
    return ToneSample(tone, frame);
}

// A voice picks exactly when VoiceSample would: startFrame < endFrame always holds, so a frame
// at or past endFrame is never in the pause before the segment.
FrameDraws Synthesis::DrawFrame(std::int64_t frame) {
    if (frame != nextFrame_) {
        runtime::RuntimeError("INDEX-RANGE");
    }
    ++nextFrame_;
    for (ToneVoice& voice : voices_) {
        if (frame >= voice.endFrame) {
            reference::PickSegment(voice, random_, frame);
        }
    }
    FrameDraws draws;
    if (HasNoise(frame)) {
        draws.noise = random_.RandomBelow(noiseDrawLimit);
    }
    return draws;
}

StereoFrame Synthesis::MixFrame(std::int64_t frame) {
    const FrameDraws draws = DrawFrame(frame);
    StereoFrame out;
    out.left = ExactLeftSample(voices_, frame, draws.noise);
    out.right = delay_.Push(out.left);
    return out;
}

void Synthesis::SkipTo(std::int64_t frame) {
    if (frame < nextFrame_) {
        runtime::RuntimeError("INDEX-RANGE");
    }
    DrawTo(std::max(nextFrame_, frame - rightChannelDelay));
    while (nextFrame_ < frame) {
        (void)MixFrame(nextFrame_);
    }
}

void Synthesis::DrawTo(std::int64_t frame) {
    if (frame < nextFrame_) {
        runtime::RuntimeError("INDEX-RANGE");
    }
    while (nextFrame_ < frame) {
        // Until the next segment ends, a frame draws its noise and nothing else. The reduction
        // of a draw does not touch the generator, so the unreduced value advances it the same.
        const std::int64_t quietEnd = std::min(frame, EarliestSegmentEnd());
        for (; nextFrame_ < quietEnd; ++nextFrame_) {
            if (HasNoise(nextFrame_)) {
                (void)random_.RandomBelow(0);
            }
        }
        if (nextFrame_ < frame) {
            (void)DrawFrame(nextFrame_);
        }
    }
}

void Synthesis::PlanFrames(FramePlan& plan) {
    plan.firstFrame = nextFrame_;
    plan.epochCount = 0;
    const std::int64_t end = nextFrame_ + plan.FrameCount();
    auto draw = plan.noise.begin();
    auto addEpoch = [&plan, this](std::int64_t frame) {
        runtime::CheckIndex(plan.epochCount, plan.epochStorage.size());
        plan.epochStorage[plan.epochCount++] = VoiceEpoch{frame, voices_};
    };
    while (nextFrame_ < end) {
        // The first frame, or one where a segment ends: picks, then a new epoch.
        if (plan.epochCount == 0 || nextFrame_ >= EarliestSegmentEnd()) {
            const std::int64_t frame = nextFrame_;
            const FrameDraws draws = DrawFrame(frame);
            addEpoch(frame);
            *draw++ = draws.noise ? static_cast<std::uint16_t>(*draws.noise) : noNoiseDraw;
        }
        // Then frames without picks: no noise, noise, no noise, each part possibly empty.
        const std::int64_t quietEnd = std::min(end, EarliestSegmentEnd());
        const std::int64_t noiseFrom = std::clamp(noiseFirstFrame, nextFrame_, quietEnd);
        const std::int64_t noiseTo = std::clamp(noiseLastFrame + 1, noiseFrom, quietEnd);
        draw = std::fill_n(draw, noiseFrom - nextFrame_, noNoiseDraw);
        random_.DrawBelow(noiseDrawLimit, {draw, static_cast<std::size_t>(noiseTo - noiseFrom)});
        draw = std::fill_n(draw + (noiseTo - noiseFrom), quietEnd - noiseTo, noNoiseDraw);
        nextFrame_ = quietEnd;
    }
}

std::int64_t Synthesis::EarliestSegmentEnd() const {
    std::int64_t earliest = voices_[0].endFrame;
    for (const ToneVoice& voice : voices_) {
        earliest = std::min(earliest, voice.endFrame);
    }
    return earliest;
}

}  // namespace reference
