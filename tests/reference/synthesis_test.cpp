#include "reference/synthesis.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "reference/x87.h"
#include "tests/support/emulator.h"

namespace reference {
namespace {

Synthesis StartedImage() {
    Synthesis synthesis;
    synthesis.BeginImage();
    return synthesis;
}

void ExpectVoice(const ToneVoice& voice, double startFrequency, double endFrequency,
                 double amplitude, double decay, std::int64_t startFrame, std::int64_t endFrame) {
    EXPECT_NEAR(voice.startFrequency, startFrequency, 1e-9);
    EXPECT_NEAR(voice.endFrequency, endFrequency, 1e-9);
    EXPECT_EQ(voice.amplitude, amplitude);
    EXPECT_NEAR(voice.decay, decay, 1e-12);
    EXPECT_EQ(voice.startFrame, startFrame);
    EXPECT_EQ(voice.endFrame, endFrame);
}

// The left sample the way the voices were first described: each voice in turn, picking its next
// segment on the frame its segment ends, then the noise. MixFrame must agree with it everywhere.
std::int16_t LeftVoiceByVoice(Synthesis& synthesis, std::int64_t frame) {
    double sum = 0.0;
    for (std::int32_t voice = 0; voice < voiceCount; ++voice) {
        sum = AddVoice(sum, synthesis.VoiceSample(voice, frame));
    }
    if (HasNoise(frame)) {
        sum = AddNoise(sum, synthesis.RandomBelow(16'000));
    }
    return ClipToSample(sum);
}

TEST(RandomGenerator, FirstUnreducedValuesOfTheImageSeed) {
    RandomGenerator random;
    random.SeedRandom(imageSeed);
    EXPECT_EQ(random.RandomBelow(0), 3'008'676'244u);
    EXPECT_EQ(random.RandomBelow(0), 3'129'363'142u);
    EXPECT_EQ(random.RandomBelow(0), 2'984'414'704u);
}

TEST(RandomGenerator, DrawingARunGivesWhatDrawingOneByOneGives) {
    RandomGenerator run;
    RandomGenerator single;
    run.SeedRandom(imageSeed);
    single.SeedRandom(imageSeed);
    // Runs of every length from 0 to 120 start at every position of the indices.
    std::vector<std::uint16_t> draws(120);
    for (std::size_t length = 0; length <= draws.size(); ++length) {
        const std::uint32_t n = length % 2 == 0 ? 16'000 : 65'536;
        run.DrawBelow(n, std::span{draws}.first(length));
        for (std::size_t i = 0; i < length; ++i) {
            ASSERT_EQ(draws[i], single.RandomBelow(n)) << "run of " << length << ", draw " << i;
        }
    }
    EXPECT_EQ(run.RandomBelow(0), single.RandomBelow(0));
}

TEST(RandomGenerator, ReducedValueIsTheUnreducedOneModuloN) {
    RandomGenerator reduced;
    RandomGenerator unreduced;
    reduced.SeedRandom(imageSeed);
    unreduced.SeedRandom(imageSeed);
    // Enough draws to wrap both indices around the 55-word table several times.
    for (std::uint32_t n = 1; n < 400; ++n) {
        ASSERT_EQ(reduced.RandomBelow(n), unreduced.RandomBelow(0) % n) << "draw " << n;
    }
}

TEST(Segments, InitialSegmentsOfTheImage) {
    const Synthesis synthesis = StartedImage();
    ExpectVoice(synthesis.Voice(0), 462.44, 468.86, 3'568, 0.232, 207'900, 232'714);
    ExpectVoice(synthesis.Voice(9), 227.98, 247.50, 1'337, 0.248, 177'703, 190'487);
    std::int64_t earliest = imageFrames;
    std::int32_t earliestVoice = -1;
    for (std::int32_t voice = 0; voice < voiceCount; ++voice) {
        if (synthesis.Voice(voice).startFrame < earliest) {
            earliest = synthesis.Voice(voice).startFrame;
            earliestVoice = voice;
        }
    }
    EXPECT_EQ(earliestVoice, 6);
    EXPECT_EQ(earliest, 176'920);
}

TEST(Segments, FirstTwoSegmentChangesOfTheImage) {
    Synthesis synthesis = StartedImage();
    const Voices initial = [&] {
        Voices voices;
        for (std::int32_t voice = 0; voice < voiceCount; ++voice) {
            voices[voice] = synthesis.Voice(voice);
        }
        return voices;
    }();
    synthesis.SkipTo(190'487);
    for (std::int32_t voice = 0; voice < voiceCount; ++voice) {
        EXPECT_EQ(synthesis.Voice(voice), initial[voice]) << "voice " << voice << " changed early";
    }
    (void)synthesis.MixFrame(190'487);
    ExpectVoice(synthesis.Voice(9), 548.06, 559.45, 370, 0.205, 236'850, 296'847);

    synthesis.SkipTo(213'602);
    EXPECT_EQ(synthesis.Voice(1), initial[1]);
    (void)synthesis.MixFrame(213'602);
    ExpectVoice(synthesis.Voice(1), 1'204.28, 1'214.60, 506, 0.187, 234'464, 272'320);
}

TEST(Segments, EndGuardParksTheVoiceAndKeepsItsTone) {
    RandomGenerator random;
    random.SeedRandom(imageSeed);
    ToneVoice voice;
    PickSegment(voice, random, 195'693'999);  // last frame that still starts a segment
    EXPECT_LE(voice.endFrame, 195'693'999 + 109'998);
    EXPECT_LT(voice.endFrame, imageFrames);
    const ToneVoice before = voice;
    RandomGenerator untouched = random;
    PickSegment(voice, random, 195'694'000);
    EXPECT_EQ(voice.startFrame, imageFrames);
    EXPECT_EQ(voice.endFrame, imageFrames + 10'000);
    EXPECT_EQ(voice.startFrequency, before.startFrequency);
    EXPECT_EQ(voice.amplitude, before.amplitude);
    EXPECT_EQ(random.RandomBelow(0), untouched.RandomBelow(0)) << "the guard must draw nothing";
}

TEST(Frames, LeadInIsSilentInBothChannels) {
    Synthesis synthesis = StartedImage();
    for (std::int64_t frame = 0; frame < leadInFrames; ++frame) {
        const StereoFrame out = synthesis.MixFrame(frame);
        ASSERT_EQ(out, StereoFrame{}) << "frame " << frame;
    }
}

TEST(Frames, FirstNoiseFramesOfTheImage) {
    Synthesis drawn = StartedImage();
    Synthesis mixed = StartedImage();
    drawn.SkipTo(leadInFrames);
    mixed.SkipTo(leadInFrames);
    const std::uint32_t expectedDraws[] = {15'717, 5'942, 7'843, 4'668, 6'993};
    const std::int16_t expectedLeft[] = {7, -2, 0, -3, -1};
    for (std::int64_t i = 0; i < 5; ++i) {
        const std::int64_t frame = leadInFrames + i;
        EXPECT_EQ(drawn.DrawFrame(frame).noise, std::optional{expectedDraws[i]});
        EXPECT_EQ(mixed.MixFrame(frame), (StereoFrame{expectedLeft[i], 0})) << "frame " << frame;
    }
}

TEST(Frames, RightChannelRepeatsLeftOne128FramesLater) {
    Synthesis synthesis = StartedImage();
    synthesis.SkipTo(leadInFrames);
    std::vector<std::int16_t> left;
    bool sawTone = false;
    for (std::int64_t frame = leadInFrames; frame < leadInFrames + 20'000; ++frame) {
        const StereoFrame out = synthesis.MixFrame(frame);
        left.push_back(out.left);
        sawTone = sawTone || out.left > 100 || out.left < -100;
        const std::size_t i = left.size() - 1;
        ASSERT_EQ(out.right, i < 128 ? 0 : left[i - 128]) << "frame " << frame;
    }
    EXPECT_TRUE(sawTone);
}

TEST(Frames, SplitDrawsAgreeWithVoiceByVoiceMixAcrossSegmentChanges) {
    Synthesis split = StartedImage();
    Synthesis literal = StartedImage();
    split.SkipTo(185'000);
    literal.SkipTo(185'000);
    // Covers voice 9's first segment change (190,487) and its fades, and voice 1's (213,602).
    for (std::int64_t frame = 185'000; frame < 214'000; ++frame) {
        ASSERT_EQ(split.MixFrame(frame).left, LeftVoiceByVoice(literal, frame)) << frame;
    }
    for (std::int32_t voice = 0; voice < voiceCount; ++voice) {
        EXPECT_EQ(split.Voice(voice), literal.Voice(voice));
    }
}

TEST(Frames, EndOfTheImage) {
    Synthesis synthesis = StartedImage();
    synthesis.SkipTo(noiseLastFrame);
    EXPECT_TRUE(synthesis.DrawFrame(noiseLastFrame).noise.has_value());
    EXPECT_FALSE(synthesis.DrawFrame(noiseLastFrame + 1).noise.has_value());
    synthesis.SkipTo(imageFrames - 1);
    (void)synthesis.MixFrame(imageFrames - 1);
    for (std::int32_t voice = 0; voice < voiceCount; ++voice) {
        EXPECT_FALSE(Sounds(synthesis.Voice(voice), imageFrames - 1)) << "voice " << voice;
        EXPECT_GE(synthesis.Voice(voice).startFrame, 195'694'000) << "voice " << voice;
    }
}

TEST(Frames, SkipToLeavesTheSameStateAsMixingEveryFrame) {
    Synthesis skipped = StartedImage();
    Synthesis mixed = StartedImage();
    skipped.SkipTo(200'000);
    for (std::int64_t frame = 0; frame < 200'000; ++frame) {
        (void)mixed.MixFrame(frame);
    }
    for (std::int64_t frame = 200'000; frame < 200'100; ++frame) {
        ASSERT_EQ(skipped.MixFrame(frame), mixed.MixFrame(frame)) << frame;
    }
}

TEST(Frames, SkipToDrawsWhatDrawingEveryFrameDraws) {
    // Millions of frames and hundreds of segment changes.
    constexpr std::int64_t target = 5'000'000;
    Synthesis skipped = StartedImage();
    Synthesis drawn = StartedImage();
    skipped.SkipTo(target);
    for (std::int64_t frame = 0; frame < target; ++frame) {
        (void)drawn.DrawFrame(frame);
    }
    for (std::int32_t voice = 0; voice < voiceCount; ++voice) {
        EXPECT_EQ(skipped.Voice(voice), drawn.Voice(voice)) << "voice " << voice;
    }
    EXPECT_EQ(skipped.RandomBelow(0), drawn.RandomBelow(0));
}

// The left channel of frames 176,400 to 476,399 as "Reference.wav" holds it (FNV-1a over the
// little-endian samples), taken from a full run whose SHA-256 is published. Whole segments with
// phases up to ~10^5 radians: a change of sine, precision or evaluation order shows here.
TEST(Frames, FirstTonesMatchThePublishedImage) {
    Synthesis synthesis = StartedImage();
    synthesis.SkipTo(leadInFrames);
    std::uint64_t hash = 0xcbf29ce484222325u;
    for (std::int64_t frame = leadInFrames; frame < leadInFrames + 300'000; ++frame) {
        const auto bits =
            static_cast<std::uint32_t>(static_cast<std::uint16_t>(synthesis.MixFrame(frame).left));
        for (const std::uint32_t byte : {bits & 0xFFu, bits >> 8}) {
            hash = (hash ^ byte) * 0x100000001b3u;
        }
    }
    EXPECT_EQ(hash, 0xe486eaf83519d3a1u);
}

TEST(Arithmetic, ClippingAndTruncation) {
    EXPECT_EQ(ClipToSample(32'767.4), 32'767);
    EXPECT_EQ(ClipToSample(32'767.5), 32'767);
    EXPECT_EQ(ClipToSample(1e9), 32'767);
    EXPECT_EQ(ClipToSample(-0.9), 0);
    EXPECT_EQ(ClipToSample(-7.999), -7);
    EXPECT_EQ(ClipToSample(-32'768.0), -32'768);
    EXPECT_EQ(ClipToSample(-32'768.5), -32'768);
    EXPECT_EQ(ClipToSample(-1e9), -32'768);
}

TEST(Arithmetic, NoiseOnlyFramesAreRoundedInExtendedPrecision) {
    const Voices silent{};
    // The double nearest 0.001 lies above it; the extended product keeps that excess, which
    // lifts the sum just above -2 and -1.
    EXPECT_EQ(ExactLeftSample(silent, 200'000, 6'000u), -1);
    EXPECT_EQ(ExactLeftSample(silent, 200'000, 7'000u), 0);
    EXPECT_EQ(ExactLeftSample(silent, 200'000, 0u), -8);
    EXPECT_EQ(ExactLeftSample(silent, 200'000, 15'999u), 7);
    EXPECT_EQ(ExactLeftSample(silent, 200'000, std::nullopt), 0);
}

TEST(Arithmetic, SynthesisRestoresExtendedPrecisionOnItsThread) {
    const std::uint16_t saved = x87::ControlWord();
    x87::SetControlWord(
        static_cast<std::uint16_t>((saved & ~x87::precisionMask) | x87::precisionDouble));
    const std::int16_t atDoublePrecision = ClipToSample(AddNoise(0.0, 6'000u));
    const Synthesis synthesis;
    const std::uint16_t after = x87::ControlWord();
    const std::int16_t afterConstruction = ClipToSample(AddNoise(0.0, 6'000u));
    x87::SetControlWord(saved);
    EXPECT_EQ(atDoublePrecision, -2) << "53-bit precision rounds the product to 6.0";
    EXPECT_TRUE(x87::IsExtendedNearest(after));
    EXPECT_EQ(afterConstruction, -1);
}

TEST(Arithmetic, ToneIsExactlyZeroOnItsFirstFrame) {
    // So a segment picked with no pause adds nothing on the frame that picked it.
    Synthesis synthesis = StartedImage();
    for (std::int32_t voice = 0; voice < voiceCount; ++voice) {
        const ToneVoice& tone = synthesis.Voice(voice);
        EXPECT_EQ(ToneSample(tone, tone.startFrame), 0.0) << "voice " << voice;
        EXPECT_NE(ToneSample(tone, tone.startFrame + 2'500), 0.0) << "voice " << voice;
    }
}

TEST(Arithmetic, ToneFadesLinearlyAtBothEnds) {
    ToneVoice tone{.startFrequency = 441.0,
                   .endFrequency = 441.0,
                   .amplitude = 1'000.0,
                   .decay = 0.0,
                   .startFrame = 1'000,
                   .endFrame = 21'000};
    // 441 Hz completes a cycle every 100 frames: a quarter cycle later the sine is at its peak.
    EXPECT_NEAR(ToneSample(tone, 1'000 + 2'525), 2'525 * 1'000.0 * 0.0002, 1e-6);
    EXPECT_NEAR(ToneSample(tone, 1'000 + 10'025), 1'000.0, 1e-6);
    EXPECT_NEAR(ToneSample(tone, 21'000 - 75), 75 * 1'000.0 * 0.0002, 1e-6);
}

TEST(Arithmetic, SineIsTheProcessorsInstruction) {
    if (testing_support::UnderQemuTcg()) {
        GTEST_SKIP() << testing_support::kX87EmulatedReason;
    }
    EXPECT_EQ(x87::Sine(0.5L), sinl(0.5L));
    // The instruction reduces by its own 66-bit pi; at the image's largest phases its result
    // differs from a correctly reduced sine well inside double precision. The image is defined
    // by the instruction.
    EXPECT_GT(fabsl(x87::Sine(100'000.0L) - sinl(100'000.0L)), 1e-17L);
    EXPECT_NEAR(static_cast<double>(x87::Sine(100'000.0L)), std::sin(100'000.0), 1e-12);
}

TEST(Delay, ValuesComeOutAfter128Pushes) {
    DelayLine delay;
    for (std::int16_t i = 1; i <= 128; ++i) {
        EXPECT_EQ(delay.Push(i), 0);
    }
    EXPECT_EQ(delay.Push(500), 1);
    EXPECT_EQ(delay.Values().front(), 2);
    EXPECT_EQ(delay.Values().back(), 500);
    delay.Clear();
    EXPECT_EQ(delay.Push(7), 0);
}

}  // namespace
}  // namespace reference
