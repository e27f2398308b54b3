// Damage, C2 honesty, drive quirks and read offsets, checked against the model's truth.
#include <gtest/gtest.h>

#include <algorithm>

#include "simdrive/description.h"
#include "tests/simdrive/command_runner.h"

namespace simdrive {
namespace {

using testkit::BitSet;
using testkit::Reply;
using testkit::Send;

DiscSpec Scratched(double rate, uint32_t burst = 4) {
    DiscSpec spec;
    spec.damage.seed = 77;
    spec.damage.scratches.push_back(Scratch{20, 30, rate, burst});
    return spec;
}

std::vector<uint8_t> PatternBytes(uint64_t seed, int64_t from, size_t count) {
    PatternSource source(1000, seed);
    std::vector<uint8_t> bytes(count);
    EXPECT_TRUE(source.Read(static_cast<uint64_t>(from), bytes));
    return bytes;
}

size_t CountBits(std::span<const uint8_t> bits) {
    size_t count = 0;
    for (const uint8_t byte : bits) {
        count += static_cast<size_t>(__builtin_popcount(byte));
    }
    return count;
}

TEST(UnreadableTest, ReadStopsAtTheBadSectorWithMediumError) {
    DiscSpec spec;
    spec.damage.unreadable = {32};
    Drive drive(DriveSettings{}, MakePatternDisc(100, 1, spec));
    const Reply reply = Send(drive, testkit::ReadCd(30, 5, 0x12), Direction::in, 5 * 2646);
    EXPECT_EQ(reply.result.status, status::checkCondition);
    EXPECT_EQ(reply.Sense(), sense::unrecoveredReadError);
    EXPECT_EQ(reply.sense[0], 0xF0);  // information field valid
    EXPECT_EQ(GetBe32(reply.sense, 3), 32u);
    EXPECT_EQ(reply.result.transferred, 2u * 2646);
    std::vector<uint8_t> clean(kAudioBytes);
    ASSERT_TRUE(drive.ReadCleanAudio(31, clean));
    EXPECT_TRUE(std::equal(clean.begin(), clean.end(), reply.data.begin() + 2646));
    EXPECT_TRUE(drive.Truth(32).unreadable);
    EXPECT_FALSE(drive.Truth(31).unreadable);
}

TEST(UnreadableTest, OffsetMakesNeighbourSharingTheBadSectorUnreadable) {
    DiscSpec spec;
    spec.damage.unreadable = {32};
    DriveSettings settings;
    settings.readOffsetSamples = 6;  // sector 31 reaches 24 bytes into disc sector 32
    Drive drive(settings, MakePatternDisc(100, 1, spec));
    EXPECT_TRUE(drive.Truth(31).unreadable);
    EXPECT_TRUE(drive.Truth(32).unreadable);
    EXPECT_FALSE(drive.Truth(33).unreadable);
}

TEST(OffsetTest, AudioShiftsBySamplesWithSilenceBeyondTheImage) {
    for (const int32_t offset : {6, -1164, 667}) {
        DriveSettings settings;
        settings.readOffsetSamples = offset;
        Drive drive(settings, MakePatternDisc(1000, 9));
        for (const uint32_t sector : {0u, 1u, 500u, 999u}) {
            const Reply reply = Send(drive, testkit::ReadCd(sector, 1, 0x10), Direction::in, 2352);
            ASSERT_TRUE(reply.Good());
            const int64_t start = int64_t{sector} * 2352 + int64_t{offset} * 4;
            for (size_t b = 0; b < kAudioBytes; b += 97) {
                const int64_t at = start + static_cast<int64_t>(b);
                const uint8_t expected =
                    (at < 0 || at >= 1000 * 2352) ? 0 : PatternBytes(9, at, 1)[0];
                ASSERT_EQ(reply.data[b], expected) << offset << " " << sector << " " << b;
            }
        }
    }
}

TEST(OffsetTest, DamageBelongsToTheDiscNotTheDrive) {
    DriveSettings shifted;
    shifted.readOffsetSamples = 6;
    Drive plain(DriveSettings{}, MakePatternDisc(100, 2, Scratched(0.05)));
    Drive offset(shifted, MakePatternDisc(100, 2, Scratched(0.05)));
    for (int64_t sector = 19; sector < 50; ++sector) {
        const SectorTruth here = plain.Truth(sector);
        const SectorTruth next = plain.Truth(sector + 1);
        const SectorTruth moved = offset.Truth(sector);
        for (size_t b = 0; b < kAudioBytes; ++b) {
            const size_t disc = b + 24;
            const bool expected = disc < kAudioBytes ? BitSet(here.corrupted, disc)
                                                     : BitSet(next.corrupted, disc - kAudioBytes);
            ASSERT_EQ(BitSet(moved.corrupted, b), expected) << sector << " " << b;
        }
    }
}

TEST(DeterminismTest, ChunkingOrderAndRunsNeverChangeTheBytes) {
    DriveSettings settings;
    settings.honesty = C2Honesty{0.8, 0.02, FlagGranularity::byte, false};
    settings.readOffsetSamples = -3;
    Drive first(settings, MakePatternDisc(100, 4, Scratched(0.02)));
    Drive second(settings, MakePatternDisc(100, 4, Scratched(0.02)));
    const Reply whole = Send(first, testkit::ReadCd(10, 48, 0x14), Direction::in, 48 * 2648);
    ASSERT_TRUE(whole.Good());
    std::vector<uint8_t> pieces(48 * 2648);
    for (int chunk = 7; chunk >= 0; --chunk) {
        const Reply part =
            Send(second, testkit::ReadCd(10 + chunk * 6, 6, 0x14), Direction::in, 6 * 2648);
        ASSERT_TRUE(part.Good());
        std::copy(part.data.begin(), part.data.end(), pieces.begin() + chunk * 6 * 2648);
    }
    EXPECT_EQ(whole.data, pieces);
    DiscSpec otherSeed = Scratched(0.02);
    otherSeed.damage.seed = 78;
    Drive third(settings, MakePatternDisc(100, 4, otherSeed));
    const Reply other = Send(third, testkit::ReadCd(10, 48, 0x14), Direction::in, 48 * 2648);
    EXPECT_NE(whole.data, other.data);
}

TEST(HonestyTest, FlagChancesShowInTheTruth) {
    DriveSettings settings;
    settings.honesty = C2Honesty{0.5, 0.1, FlagGranularity::byte, false};
    Drive drive(settings, MakePatternDisc(100, 4, Scratched(0.05, 1)));
    size_t wrong = 0;
    size_t wrongFlagged = 0;
    size_t good = 0;
    size_t goodFlagged = 0;
    for (int64_t sector = 20; sector < 50; ++sector) {
        const SectorTruth truth = drive.Truth(sector);
        for (size_t b = 0; b < kAudioBytes; ++b) {
            const bool corrupt = BitSet(truth.corrupted, b);
            const bool flagged = BitSet(truth.flagged, b);
            (corrupt ? wrong : good) += 1;
            (corrupt ? wrongFlagged : goodFlagged) += flagged ? 1 : 0;
        }
    }
    EXPECT_NEAR(static_cast<double>(wrong) / (wrong + good), 0.05, 0.005);
    EXPECT_NEAR(static_cast<double>(wrongFlagged) / wrong, 0.5, 0.03);
    EXPECT_NEAR(static_cast<double>(goodFlagged) / good, 0.1, 0.01);
    // Outside the scratch nothing is wrong and nothing is flagged.
    EXPECT_EQ(CountBits(drive.Truth(19).corrupted) + CountBits(drive.Truth(19).flagged), 0u);
    EXPECT_EQ(CountBits(drive.Truth(50).flagged), 0u);
}

TEST(HonestyTest, SampleGranularityFlagsWholeSamples) {
    DriveSettings settings;
    settings.honesty.granularity = FlagGranularity::sample;
    Drive drive(settings, MakePatternDisc(100, 4, Scratched(0.03, 1)));
    const SectorTruth truth = drive.Truth(25);
    ASSERT_GT(CountBits(truth.flagged), 0u);
    for (size_t b = 0; b < kAudioBytes; b += 2) {
        const bool corrupt = BitSet(truth.corrupted, b) || BitSet(truth.corrupted, b + 1);
        EXPECT_EQ(BitSet(truth.flagged, b), corrupt) << b;
        EXPECT_EQ(BitSet(truth.flagged, b + 1), corrupt) << b;
    }
}

TEST(QuirkTest, LatePointersArriveWithTheNextSector) {
    DriveSettings settings;
    settings.honesty.oneSectorLate = true;
    Drive drive(settings, MakePatternDisc(100, 4, Scratched(0.05)));
    const Reply reply = Send(drive, testkit::ReadCd(18, 34, 0x12), Direction::in, 34 * 2646);
    ASSERT_TRUE(reply.Good());
    for (uint32_t i = 0; i < 34; ++i) {
        const auto c2 = std::span(reply.data).subspan(i * 2646 + 2352, kC2Bytes);
        const SectorTruth previous = drive.Truth(18 + i - 1);
        EXPECT_TRUE(std::equal(c2.begin(), c2.end(), previous.flagged.begin())) << i;
    }
    const Reply first = Send(drive, testkit::ReadCd(0, 1, 0x12), Direction::in, 2646);
    EXPECT_TRUE(
        std::all_of(first.data.begin() + 2352, first.data.end(), [](uint8_t b) { return b == 0; }));
}

TEST(DiscLayoutTest, BadDescriptionsAreRefused) {
    std::string error;
    DiscSpec tracks;
    tracks.trackStarts = {0, 50, 40};
    EXPECT_EQ(Disc::Create(std::make_unique<PatternSource>(100, 1), tracks, error), nullptr);
    EXPECT_NE(error.find("track starts"), std::string::npos);
    DiscSpec rate;
    rate.damage.scratches.push_back(Scratch{1, 1, 1.5, 1});
    EXPECT_EQ(Disc::Create(std::make_unique<PatternSource>(100, 1), rate, error), nullptr);
    DiscSpec beyond;  // damage past a short disc is dropped, not refused
    beyond.damage.scratches.push_back(Scratch{90, 50, 0.1, 1});
    beyond.damage.unreadable = {500};
    auto disc = Disc::Create(std::make_unique<PatternSource>(100, 1), beyond, error);
    ASSERT_NE(disc, nullptr);
    EXPECT_TRUE(disc->DamageAt(99).Damaged());
    EXPECT_FALSE(disc->DamageAt(100).Damaged());
    EXPECT_FALSE(disc->IsUnreadable(500));
}

}  // namespace
}  // namespace simdrive
