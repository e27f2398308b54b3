#include "reference/fast_mix.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <limits>
#include <optional>
#include <set>
#include <vector>

#include "reference/image_renderer.h"
#include "reference/synthesis.h"
#include "reference/tamblin.h"

namespace reference {
namespace {

// The sanitizers check memory handling, not arithmetic, and slow the exact path several times;
// the Windows suite runs in an emulated guest, tens of times slower. There every fourth of the
// release build's blocks is compared.
#ifdef REFERENCE_TESTS_SAMPLED
constexpr std::int64_t blockStride = 4;
#else
constexpr std::int64_t blockStride = 1;
#endif

constexpr std::int64_t noiseEndBlock = noiseLastFrame / blockFrames;  // starts with the last noise
constexpr std::int64_t leadInEndBlock = leadInFrames / blockFrames;   // first block after it

Synthesis StartedImage() {
    Synthesis synthesis;
    synthesis.BeginImage();
    return synthesis;
}

// A plan with its own storage.
struct OwnedPlan {
    explicit OwnedPlan(std::int64_t frames)
        : noise(static_cast<std::size_t>(frames)), epochs(MaxEpochs(frames)) {
        plan.noise = noise;
        plan.epochStorage = epochs;
    }
    std::vector<std::uint16_t> noise;
    std::vector<VoiceEpoch> epochs;
    FramePlan plan;
};

// One epoch of the given voices over `frames` frames from `first`, every frame with `draw`.
OwnedPlan FixedPlan(const Voices& voices, std::int64_t first, std::int64_t frames,
                    std::uint16_t draw) {
    OwnedPlan owned(frames);
    owned.plan.firstFrame = first;
    std::fill(owned.noise.begin(), owned.noise.end(), draw);
    owned.epochs[0] = VoiceEpoch{first, voices};
    owned.plan.epochCount = 1;
    return owned;
}

std::vector<FastMixForm> RunnableForms() {
    std::vector<FastMixForm> forms;
    std::copy_if(fastMixForms.begin(), fastMixForms.end(), std::back_inserter(forms), FormRuns);
    return forms;
}

std::optional<std::uint32_t> Draw(std::uint16_t draw) {
    return draw == noNoiseDraw ? std::nullopt : std::optional<std::uint32_t>{draw};
}

TEST(FastMix, SineAndCosineWithinAFewUnitsInTheLastPlace) {
    double worst = 0.0;
    for (double phase = 0.0; phase < 16'384.0; phase += 0.0731) {
        const SineCosine fast = FastSineCosine(phase);
        const long double x = phase;
        worst = std::max({worst, static_cast<double>(std::fabs(fast.sine - sinl(x))),
                          static_cast<double>(std::fabs(fast.cosine - cosl(x)))});
    }
    EXPECT_LT(worst, 4e-16);
}

TEST(FastMix, SettledOnlyFarFromEveryValueWhereTheSampleChanges) {
    constexpr double m = fastMixMargin;
    // Truncation: nonzero integers are boundaries, 0 is not.
    EXPECT_TRUE(SampleIsSettled(0.0, m));
    EXPECT_TRUE(SampleIsSettled(-1.0 + 2 * m, m));
    EXPECT_TRUE(SampleIsSettled(0.5, m));
    EXPECT_FALSE(SampleIsSettled(1.0 - m / 2, m));
    EXPECT_FALSE(SampleIsSettled(-1.0, m));
    EXPECT_FALSE(SampleIsSettled(-2.0 + m / 2, m));
    EXPECT_TRUE(SampleIsSettled(-2.5, m));
    EXPECT_TRUE(SampleIsSettled(1'234.0 + 2 * m, m));
    // Clipping limits.
    EXPECT_FALSE(SampleIsSettled(32'767.0, m));
    EXPECT_FALSE(SampleIsSettled(32'767.0 + m / 2, m));
    EXPECT_TRUE(SampleIsSettled(32'767.5, m));
    EXPECT_TRUE(SampleIsSettled(40'000.0, m));
    EXPECT_FALSE(SampleIsSettled(-32'768.0 - m / 2, m));
    EXPECT_TRUE(SampleIsSettled(-32'768.5, m));
    EXPECT_TRUE(SampleIsSettled(-1e9, m));
    EXPECT_FALSE(SampleIsSettled(std::numeric_limits<double>::quiet_NaN(), m));
}

TEST(FastMix, NoiseOnlyFramesOnABoundaryFallBackToTheExactValue) {
    // The extended product 6,000 x 0.001 lies just above 6: -1, where doubles give -2.
    for (const auto& [draw, expected] : {std::pair<std::uint16_t, std::int16_t>{6'000, -1},
                                         {7'000, 0},
                                         {0, -8},
                                         {15'999, 7},
                                         {noNoiseDraw, 0}}) {
        // Nineteen frames: whole vectors of every width and a remainder.
        const OwnedPlan owned = FixedPlan(Voices{}, 200'000, 19, draw);
        for (const FastMixForm form : RunnableForms()) {
            std::array<std::int16_t, 19> left{};
            const std::int64_t fallbacks = FastLeftSamples(owned.plan, 0, left, {}, form);
            for (const std::int16_t sample : left) {
                EXPECT_EQ(sample, expected) << "draw " << draw << ", " << FormName(form);
            }
            EXPECT_EQ(left[18], ExactLeftSample(Voices{}, 200'018, Draw(draw))) << "draw " << draw;
            // Integral mixes other than 0 lie on a boundary.
            EXPECT_EQ(fallbacks, draw % 1'000 == 0 && draw != 8'000 ? 19 : 0)
                << "draw " << draw << ", " << FormName(form);
        }
    }
}

// Ten loud voices in phase go far past the 16-bit range at their peaks: clipping on both sides,
// and the crossings of the limits, in every form.
TEST(FastMix, ClippedFramesMatchTheExactPath) {
    Voices voices;
    for (std::int32_t v = 0; v < voiceCount; ++v) {
        voices[static_cast<std::size_t>(v)] = ToneVoice{.startFrequency = 441.0 + 0.01 * v,
                                                        .endFrequency = 452.0,
                                                        .amplitude = 4'095.0,
                                                        .decay = 0.249,
                                                        .startFrame = 300'000,
                                                        .endFrame = 340'000};
    }
    const OwnedPlan owned = FixedPlan(voices, 300'000, 40'000, 8'000);
    std::vector<std::int16_t> exact(40'000);
    for (std::size_t i = 0; i < exact.size(); ++i) {
        exact[i] = ExactLeftSample(voices, 300'000 + static_cast<std::int64_t>(i), 8'000u);
    }
    for (const FastMixForm form : RunnableForms()) {
        std::vector<std::int16_t> left(40'000);
        std::vector<double> mixes(40'000);
        (void)FastLeftSamples(owned.plan, 0, left, mixes, form);
        std::int64_t high = 0;
        std::int64_t low = 0;
        for (std::size_t i = 0; i < left.size(); ++i) {
            ASSERT_EQ(left[i], exact[i]) << "frame " << 300'000 + i << ", " << FormName(form);
            high += mixes[i] > 32'767.0;
            low += mixes[i] < -32'768.0;
        }
        EXPECT_GT(high, 1'000);
        EXPECT_GT(low, 1'000);
    }
}

// A tone the fast evaluation does not cover (harmonics above 22 kHz drop out) is computed with
// the exact arithmetic, frame by frame, in every form.
TEST(FastMix, TonesBeyondTheFastRangeAreComputedExactly) {
    Voices voices;
    voices[3] = ToneVoice{.startFrequency = 3'000.0,
                          .endFrequency = 2'990.0,
                          .amplitude = 3'000.0,
                          .decay = 0.2,
                          .startFrame = 400'000,
                          .endFrame = 420'000};
    const OwnedPlan owned = FixedPlan(voices, 405'000, 1'001, 1'234);
    for (const FastMixForm form : RunnableForms()) {
        std::vector<std::int16_t> left(1'001);
        EXPECT_EQ(FastLeftSamples(owned.plan, 0, left, {}, form), 1'001) << FormName(form);
        for (std::size_t i = 0; i < left.size(); ++i) {
            ASSERT_EQ(left[i],
                      ExactLeftSample(voices, 405'000 + static_cast<std::int64_t>(i), 1'234u))
                << "frame " << 405'000 + i << ", " << FormName(form);
        }
    }
}

// The forms differ only in how many frames an instruction covers: every mix agrees to the last
// bit with the portable form's, over segment changes, odd starts and lengths (partial vectors).
TEST(FastMix, FormsAgreeOnEveryMixToTheLastBit) {
    Synthesis synthesis = StartedImage();
    synthesis.DrawTo(90'000'000);
    constexpr std::int64_t frames = 150'000;
    OwnedPlan owned(frames);
    synthesis.PlanFrames(owned.plan);
    ASSERT_GT(owned.plan.epochCount, 10u);
    for (const auto& [from, count] :
         {std::pair<std::int64_t, std::size_t>{0, 150'000}, {3, 1'021}, {70'001, 17}}) {
        std::vector<std::int16_t> portableLeft(count);
        std::vector<double> portableMixes(count);
        (void)FastLeftSamples(owned.plan, from, portableLeft, portableMixes, FastMixForm::portable);
        for (const FastMixForm form : RunnableForms()) {
            std::vector<std::int16_t> left(count);
            std::vector<double> mixes(count);
            (void)FastLeftSamples(owned.plan, from, left, mixes, form);
            EXPECT_EQ(left, portableLeft) << FormName(form) << " from " << from;
            for (std::size_t i = 0; i < count; ++i) {
                ASSERT_EQ(std::bit_cast<std::uint64_t>(mixes[i]),
                          std::bit_cast<std::uint64_t>(portableMixes[i]))
                    << "frame " << owned.plan.firstFrame + from + static_cast<std::int64_t>(i)
                    << ", " << FormName(form);
            }
        }
    }
}

TEST(FastMix, StaysFarInsideTheMarginOverWholeSegments) {
    Synthesis synthesis = StartedImage();
    synthesis.DrawTo(1'000'000);
    OwnedPlan owned(200'000);
    synthesis.PlanFrames(owned.plan);
    std::vector<std::int16_t> left(200'000);
    std::vector<double> mixes(200'000);
    (void)FastLeftSamples(owned.plan, 0, left, mixes);
    double largest = 0.0;
    std::size_t epoch = 0;
    const auto epochs = owned.plan.Epochs();
    for (std::int64_t i = 0; i < 200'000; i += 3 * blockStride) {
        const std::int64_t frame = owned.plan.firstFrame + i;
        while (epoch + 1 < epochs.size() && epochs[epoch + 1].firstFrame <= frame) {
            ++epoch;
        }
        const double exact =
            ExactMix(epochs[epoch].voices, frame, Draw(owned.noise[static_cast<std::size_t>(i)]));
        largest = std::max(largest, std::abs(exact - mixes[static_cast<std::size_t>(i)]));
    }
    EXPECT_LT(largest, fastMixMargin / 100);
}

TEST(FramePlans, AgreeWithDrawingFrameByFrame) {
    Synthesis planned = StartedImage();
    Synthesis drawn = StartedImage();
    planned.DrawTo(180'000);
    drawn.DrawTo(180'000);
    // Several segment changes, the first at 190,487.
    OwnedPlan owned(120'000);
    planned.PlanFrames(owned.plan);
    ASSERT_EQ(owned.plan.firstFrame, 180'000);
    ASSERT_GT(owned.plan.epochCount, 3u);
    std::size_t epoch = 0;
    for (std::int64_t frame = 180'000; frame < 300'000; ++frame) {
        const FrameDraws draws = drawn.DrawFrame(frame);
        while (epoch + 1 < owned.plan.epochCount && owned.epochs[epoch + 1].firstFrame <= frame) {
            ++epoch;
        }
        ASSERT_EQ(Draw(owned.noise[static_cast<std::size_t>(frame - 180'000)]), draws.noise)
            << frame;
        for (std::int32_t v = 0; v < voiceCount; ++v) {
            ASSERT_EQ(owned.epochs[epoch].voices[static_cast<std::size_t>(v)], drawn.Voice(v))
                << "frame " << frame << " voice " << v;
        }
    }
    EXPECT_EQ(planned.NextFrame(), 300'000);
    EXPECT_EQ(planned.RandomBelow(0), drawn.RandomBelow(0));
}

// ---- The fast path against the exact one, block by block.

// Every segment of the image, from the draws alone.
std::vector<ToneVoice> AllSegments() {
    std::vector<ToneVoice> segments;
    Synthesis walker = StartedImage();
    for (const ToneVoice& voice : walker.AllVoices()) {
        segments.push_back(voice);
    }
    for (;;) {
        std::int64_t nextEnd = imageFrames;
        for (const ToneVoice& voice : walker.AllVoices()) {
            nextEnd = std::min(nextEnd, voice.endFrame);
        }
        if (nextEnd >= imageFrames) {
            return segments;
        }
        walker.DrawTo(nextEnd);
        const Voices before = [&] {
            Voices voices;
            std::copy(walker.AllVoices().begin(), walker.AllVoices().end(), voices.begin());
            return voices;
        }();
        (void)walker.DrawFrame(nextEnd);
        for (std::int32_t v = 0; v < voiceCount; ++v) {
            const ToneVoice& voice = walker.Voice(v);
            if (voice != before[static_cast<std::size_t>(v)] && voice.startFrame < imageFrames) {
                segments.push_back(voice);
            }
        }
    }
}

// The blocks to compare: fixed places, a spread over the image, and, for a sample of segments,
// the blocks of their first frame, the end of the fade-in, the start of the fade-out and their
// end (where the voice picks its next segment).
std::set<std::int64_t> BlocksToCompare(const std::vector<ToneVoice>& segments) {
    std::set<std::int64_t> blocks = {0,
                                     1,
                                     leadInEndBlock - 1,
                                     leadInEndBlock,
                                     leadInEndBlock + 1,
                                     noiseEndBlock - 1,
                                     noiseEndBlock,
                                     noiseEndBlock + 1,
                                     332'920,  // a noise-only frame whose fast value is wrong
                                     imageBlocks - 2,
                                     imageBlocks - 1};
    for (std::int64_t block = 0; block < imageBlocks; block += 331) {
        blocks.insert(block);
    }
    for (std::size_t i = 0; i < segments.size(); i += 128) {
        const ToneVoice& s = segments[i];
        for (const std::int64_t frame :
             {s.startFrame, s.startFrame + 5'000, s.endFrame - 5'000, s.endFrame}) {
            blocks.insert(frame / blockFrames);
        }
    }
    std::set<std::int64_t> chosen;
    std::int64_t index = 0;
    for (const std::int64_t block : blocks) {
        if (index++ % blockStride == 0 || block >= imageBlocks - 2 || block == 332'920) {
            chosen.insert(block);
        }
    }
    return chosen;
}

struct Comparison {
    std::int64_t blocks = 0;
    std::int64_t fallbacks = 0;
    std::int64_t segmentStarts = 0;
};

// Walks the exact path forward and compares one block with the fast path's: the fast side plans
// from the same generator state, computes the left samples and takes the right ones from its
// own delay line.
class BlockComparer {
public:
    void Compare(std::int64_t block, Comparison& result) {
        const std::int64_t first = block * blockFrames;
        const std::int64_t from = std::max(exact_.NextFrame(), first - rightChannelDelay);
        if (from != exact_.NextFrame()) {
            exact_.DrawTo(from);
            fastDelay_.Clear();  // refilled by the 128 frames before the block (or the lead-in)
        }
        const std::int64_t frames = first + blockFrames - from;
        Synthesis planner = exact_;
        owned_.plan.noise = std::span{owned_.noise}.first(static_cast<std::size_t>(frames));
        planner.PlanFrames(owned_.plan);
        const auto left = std::span{fastLeft_}.first(static_cast<std::size_t>(frames));
        result.fallbacks += FastLeftSamples(owned_.plan, 0, left);
        for (const VoiceEpoch& epoch : owned_.plan.Epochs()) {
            for (const ToneVoice& voice : epoch.voices) {
                result.segmentStarts +=
                    voice.startFrame >= first && voice.startFrame < first + blockFrames;
            }
        }
        for (std::int64_t frame = from; frame < first + blockFrames; ++frame) {
            const std::int16_t fastLeft = left[static_cast<std::size_t>(frame - from)];
            const StereoFrame fast{fastLeft, fastDelay_.Push(fastLeft)};
            const StereoFrame exact = exact_.MixFrame(frame);
            if (frame >= first) {
                ASSERT_EQ(fast, exact) << "frame " << frame << " of block " << block;
            }
        }
        ++result.blocks;
    }

private:
    Synthesis exact_ = StartedImage();
    DelayLine fastDelay_;
    OwnedPlan owned_{blockFrames + rightChannelDelay};
    std::array<std::int16_t, blockFrames + rightChannelDelay> fastLeft_{};
};

TEST(FastPath, MatchesTheExactPathOnBlocksAcrossTheImage) {
    const std::vector<ToneVoice> segments = AllSegments();
    ASSERT_GT(segments.size(), 30'000u);
    const std::set<std::int64_t> blocks = BlocksToCompare(segments);
    Comparison result;
    BlockComparer comparer;
    for (const std::int64_t block : blocks) {
        comparer.Compare(block, result);
        if (HasFatalFailure()) {
            return;
        }
    }
    EXPECT_GE(result.blocks, 2'000 / blockStride);
    EXPECT_GT(result.fallbacks, 0) << "the exact fallback went untested";
    EXPECT_GT(result.segmentStarts, 200 / blockStride);
}

// ---- The renderer: chunks, threads, the right channel across chunk boundaries.

class CollectingSink final : public BlockSink {
public:
    explicit CollectingSink(std::int64_t stopAfterChunks = -1) : stopAfter_(stopAfterChunks) {}
    bool TakeBlocks(std::int64_t firstBlock, std::span<const std::byte> bytes) override {
        firstBlocks.push_back(firstBlock);
        for (std::size_t i = 0; i + 3 < bytes.size(); i += 4) {
            const auto sample = [&](std::size_t at) {
                return static_cast<std::int16_t>(static_cast<std::uint16_t>(bytes[at]) |
                                                 static_cast<std::uint16_t>(bytes[at + 1]) << 8);
            };
            frames.push_back(StereoFrame{sample(i), sample(i + 2)});
        }
        return std::ssize(firstBlocks) != stopAfter_;
    }
    std::vector<std::int64_t> firstBlocks;
    std::vector<StereoFrame> frames;

private:
    std::int64_t stopAfter_;
};

std::vector<StereoFrame> ExactFrames(std::int64_t firstBlock, std::int64_t blocks) {
    Synthesis synthesis = StartedImage();
    synthesis.SkipTo(firstBlock * blockFrames);
    std::vector<StereoFrame> frames;
    for (std::int64_t frame = firstBlock * blockFrames; frame < (firstBlock + blocks) * blockFrames;
         ++frame) {
        frames.push_back(synthesis.MixFrame(frame));
    }
    return frames;
}

TEST(Renderer, ChunksInOrderAcrossTheLeadInEdgeAndAChunkBoundary) {
    // From block 290 over the first tones; the second chunk starts at block 740.
    constexpr std::int64_t first = 290;
    const std::int64_t blocks = chunkBlocks + 10 * (blockStride == 1 ? 20 : 1);
    const std::vector<StereoFrame> exact = ExactFrames(first, blocks);
    for (const std::int32_t threads : {1, 3}) {
        CollectingSink sink;
        const RenderResult result = RenderImage(sink, first, blocks, threads);
        EXPECT_TRUE(result.complete);
        EXPECT_EQ(sink.firstBlocks, (std::vector<std::int64_t>{first, first + chunkBlocks}));
        ASSERT_EQ(sink.frames.size(), exact.size());
        for (std::size_t i = 0; i < exact.size(); ++i) {
            ASSERT_EQ(sink.frames[i], exact[i]) << "frame " << first * blockFrames + i;
        }
    }
}

TEST(Renderer, LastBlockOfTheImage) {
    CollectingSink sink;
    EXPECT_TRUE(RenderImage(sink, imageBlocks - 1, 1).complete);
    EXPECT_EQ(sink.frames, ExactFrames(imageBlocks - 1, 1));
}

TEST(Renderer, StopsWhenTheSinkRefuses) {
    CollectingSink sink(1);
    const RenderResult result = RenderImage(sink, 0, 3 * chunkBlocks, 2);
    EXPECT_FALSE(result.complete);
    EXPECT_EQ(sink.firstBlocks, std::vector<std::int64_t>{0});
}

}  // namespace
}  // namespace reference
