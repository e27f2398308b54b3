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
constexpr double sampleMax = 32'767.0;
constexpr double sampleMin = -32'768.0;

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

std::uint32_t RandomGenerator::RandomBelow(std::uint32_t n) {
    j_ = j_ == 55 ? 1 : j_ + 1;
    k_ = k_ == 55 ? 1 : k_ + 1;
    table_[j_] += table_[k_];
    return n > 0 ? table_[j_] % n : table_[j_];
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

std::int16_t ClipToSample(double sum) {
    if (sum > sampleMax) {
        return 32'767;
    }
    if (sum < sampleMin) {
        return -32'768;
    }
    return static_cast<std::int16_t>(sum);  // truncation toward zero
}

std::int16_t ExactLeftSample(std::span<const ToneVoice, voiceCount> voices, std::int64_t frame,
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
    return ClipToSample(sum);
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
        draws.noise = random_.RandomBelow(16'000);
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
    const std::int64_t exactFrom = frame - rightChannelDelay;
    while (nextFrame_ < exactFrom) {
        // Until the next segment ends, a frame draws its noise and nothing else. The reduction
        // of a draw does not touch the generator, so the unreduced value advances it the same.
        const std::int64_t quietEnd = std::min(exactFrom, EarliestSegmentEnd());
        for (; nextFrame_ < quietEnd; ++nextFrame_) {
            if (HasNoise(nextFrame_)) {
                (void)random_.RandomBelow(0);
            }
        }
        if (nextFrame_ < exactFrom) {
            (void)DrawFrame(nextFrame_);
        }
    }
    while (nextFrame_ < frame) {
        (void)MixFrame(nextFrame_);
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
