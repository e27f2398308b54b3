// The reference signal: ten voices of gliding harmonic tones, a noise floor, a silent lead-in and
// a right channel that repeats the left one 128 frames later, fully determined by the seed.
//
// A frame has two independent parts. Its draws (segment picks of voices whose segment ended, then
// the noise draw) use only the generator and frame numbers, never a sine, so a sequential pass can
// fix them cheaply. Its left sample is then a pure function of (voices, frame, noise draw):
// ExactLeftSample, the definition of every sample, evaluated in x87 extended precision.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <span>

namespace reference {

inline constexpr std::int64_t imageFrames = 195'804'000;  // 74 minutes at 44,100 frames/s
inline constexpr std::int64_t leadInFrames = 176'400;     // silent first 4 seconds
inline constexpr std::int32_t voiceCount = 10;
inline constexpr std::int32_t rightChannelDelay = 128;
inline constexpr std::int64_t noiseFirstFrame = 176'400;
inline constexpr std::int64_t noiseLastFrame = 195'759'900;  // inclusive
inline constexpr std::int64_t endGuard = 110'000;  // no segment starts within this of the end
inline constexpr std::uint32_t imageSeed = 1'005;
inline constexpr std::int32_t harmonicCount = 15;  // while below 22 kHz; always 15 in the image
inline constexpr std::int64_t shortestSegment = 10'000;
inline constexpr std::uint32_t noiseDrawLimit = 16'000;

// The runtime's additive lagged-Fibonacci generator over 55 words, arithmetic modulo 2^32.
class RandomGenerator {
public:
    // A seed of 0 means the caller seeds from the clock; this class takes the value as given.
    void SeedRandom(std::uint32_t seed);
    // Next value reduced below n; n = 0 gives the unreduced value. Inline, so that a constant n
    // costs no division.
    [[nodiscard]] std::uint32_t RandomBelow(std::uint32_t n) {
        j_ = j_ == 55 ? 1 : j_ + 1;
        k_ = k_ == 55 ? 1 : k_ + 1;
        table_[static_cast<std::size_t>(j_)] += table_[static_cast<std::size_t>(k_)];
        const std::uint32_t value = table_[static_cast<std::size_t>(j_)];
        return n > 0 ? value % n : value;
    }
    // The next draws.size() values reduced below n (0 < n <= 65,536), as RandomBelow gives them.
    void DrawBelow(std::uint32_t n, std::span<std::uint16_t> draws);

private:
    std::array<std::uint32_t, 56> table_{};  // words 1..55; index 0 unused
    std::int32_t j_ = 1;
    std::int32_t k_ = 33;
};

// One voice's current segment. Before the first pick every field is zero.
struct ToneVoice {
    double startFrequency = 0.0;  // Hz at startFrame
    double endFrequency = 0.0;    // Hz the glide heads for at endFrame
    double amplitude = 0.0;       // of the fundamental, in sample units
    double decay = 0.0;           // amplitude factor from one harmonic to the next
    std::int64_t startFrame = 0;  // first frame of the segment
    std::int64_t endFrame = 0;    // first frame after it

    friend bool operator==(const ToneVoice&, const ToneVoice&) = default;
};

using Voices = std::array<ToneVoice, voiceCount>;

// Draws a voice's next segment beginning no earlier than `frame`; near the end of the image it
// parks the voice after the last frame instead and draws nothing.
void PickSegment(ToneVoice& voice, RandomGenerator& random, std::int64_t frame);

// True when the voice's tone formula applies at `frame`. At the first frame of a segment the tone
// is exactly 0 (phase 0, fade factor 0), so a segment picked at `frame` adds nothing there.
[[nodiscard]] constexpr bool Sounds(const ToneVoice& voice, std::int64_t frame) {
    return voice.startFrame <= frame && frame < voice.endFrame;
}

// --- The exact arithmetic. Each needs the x87 unit at extended precision, round to nearest
// (x87::UseExtendedNearest) on the calling thread.

// The voice's tone at a frame inside its segment: fifteen harmonics of the gliding frequency,
// faded over the first and last 5,000 frames.
[[nodiscard]] double ToneSample(const ToneVoice& voice, std::int64_t frame);
// sum := voiceSample + sum, rounded to double once.
[[nodiscard]] double AddVoice(double sum, double voiceSample);
// Noise of -8.000 .. +7.999 from a draw below 16,000.
[[nodiscard]] double AddNoise(double sum, std::uint32_t draw);
// Clips to the 16-bit range, otherwise truncates toward zero.
[[nodiscard]] inline std::int16_t ClipToSample(double sum) {
    if (sum > 32'767.0) {
        return 32'767;
    }
    if (sum < -32'768.0) {
        return -32'768;
    }
    return static_cast<std::int16_t>(sum);  // truncation toward zero
}
// The harmonics' amplitudes of a voice's tone, as ToneSample computes them: amplitude x
// decay^(h-1), rounded to double after each product.
[[nodiscard]] std::array<double, harmonicCount> HarmonicAmplitudes(const ToneVoice& voice);
// The mix of `frame` before its conversion to 16 bits.
[[nodiscard]] double ExactMix(std::span<const ToneVoice, voiceCount> voices, std::int64_t frame,
                              std::optional<std::uint32_t> noiseDraw);
// The left sample of `frame`, given the voices after the frame's picks and its noise draw.
[[nodiscard]] std::int16_t ExactLeftSample(std::span<const ToneVoice, voiceCount> voices,
                                           std::int64_t frame,
                                           std::optional<std::uint32_t> noiseDraw);

[[nodiscard]] constexpr bool HasNoise(std::int64_t frame) {
    return noiseFirstFrame <= frame && frame <= noiseLastFrame;
}

// The right channel: each left value comes out again 128 frames later.
class DelayLine {
public:
    void Clear() { values_.fill(0); }
    // Appends `left` and returns the value that entered 128 pushes ago (0 at first).
    std::int16_t Push(std::int16_t left);
    [[nodiscard]] std::span<const std::int16_t, rightChannelDelay> Values() const {
        return values_;
    }

private:
    std::array<std::int16_t, rightChannelDelay> values_{};  // index 0 holds the oldest
};

struct StereoFrame {
    std::int16_t left = 0;
    std::int16_t right = 0;
    friend bool operator==(const StereoFrame&, const StereoFrame&) = default;
};

// What a frame draws from the generator, and nothing else about it.
struct FrameDraws {
    std::optional<std::uint32_t> noise;
};

// A frame outside the noise window (draws are below 16,000).
inline constexpr std::uint16_t noNoiseDraw = 0xFFFF;

// The voices in force from `firstFrame` until the next epoch of a plan: between two picks, every
// frame sees the same voices.
struct VoiceEpoch {
    std::int64_t firstFrame = 0;
    Voices voices{};
};

// Everything the generator decides about a run of frames, so that their samples can then be
// computed in any order. The storage belongs to the caller.
struct FramePlan {
    std::int64_t firstFrame = 0;
    std::span<std::uint16_t> noise;  // one draw per frame, noNoiseDraw outside the noise window
    std::span<VoiceEpoch> epochStorage;
    std::size_t epochCount = 0;

    [[nodiscard]] std::int64_t FrameCount() const { return std::ssize(noise); }
    [[nodiscard]] std::span<const VoiceEpoch> Epochs() const {
        return epochStorage.first(epochCount);
    }
};

// Epochs a plan of `frames` frames can need: a voice picks at most once per shortest segment,
// plus the epoch in force at the first frame.
[[nodiscard]] constexpr std::size_t MaxEpochs(std::int64_t frames) {
    return static_cast<std::size_t>(1 + voiceCount * (frames / shortestSegment + 1));
}

// The whole image's state: generator, voices, delay line. Frames are produced in strict order.
class Synthesis {
public:
    // Sets the calling thread's x87 unit to extended precision, round to nearest.
    Synthesis();

    // Seeds with the image's seed, picks every voice's first segment at the end of the lead-in
    // and clears the delay line: the state before frame 0.
    void BeginImage();

    void SeedRandom(std::uint32_t seed) { random_.SeedRandom(seed); }
    [[nodiscard]] std::uint32_t RandomBelow(std::uint32_t n) { return random_.RandomBelow(n); }
    void PickSegment(std::int32_t voice, std::int64_t frame);
    void ClearDelayLine() { delay_.Clear(); }

    // One voice's part of the left channel at `frame`; a voice whose segment ends at `frame`
    // picks its next one and gives 0.
    [[nodiscard]] double VoiceSample(std::int32_t voice, std::int64_t frame);

    // The frame's draws without any sine: picks for voices whose segment ended, then the noise.
    // Advances to the next frame like MixFrame but leaves the delay line alone; `frame` must be
    // NextFrame().
    [[nodiscard]] FrameDraws DrawFrame(std::int64_t frame);

    // The next frame of the image; `frame` must be NextFrame().
    [[nodiscard]] StereoFrame MixFrame(std::int64_t frame);

    // Advances to `frame` (not before NextFrame()) drawing without sines, except for the last
    // 128 frames, whose left samples the delay line needs.
    void SkipTo(std::int64_t frame);
    // Advances to `frame` (not before NextFrame()) drawing without sines; the delay line is left
    // as it was.
    void DrawTo(std::int64_t frame);
    // Draws the next plan.noise.size() frames into `plan`, without sines, and advances past them
    // like DrawTo.
    void PlanFrames(FramePlan& plan);

    [[nodiscard]] std::int64_t NextFrame() const { return nextFrame_; }
    [[nodiscard]] const ToneVoice& Voice(std::int32_t voice) const;
    [[nodiscard]] std::span<const ToneVoice, voiceCount> AllVoices() const { return voices_; }
    [[nodiscard]] const DelayLine& Delay() const { return delay_; }

private:
    [[nodiscard]] std::int64_t EarliestSegmentEnd() const;

    RandomGenerator random_;
    Voices voices_{};
    DelayLine delay_;
    std::int64_t nextFrame_ = 0;
};

}  // namespace reference
