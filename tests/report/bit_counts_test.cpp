// The bit tricks behind the counting, against plain loops.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "report/comparison/bit_counts.h"
#include "report/comparison/comparison.h"

namespace {

TEST(BitCounts, WrongByteMaskPutsByteZeroInTheTopBit) {
    for (int byte = 0; byte < 8; ++byte) {
        for (const std::uint64_t value : {0x01ULL, 0x80ULL, 0xFFULL, 0x10ULL}) {
            EXPECT_EQ(report::WrongByteMask(value << (8 * byte)), 0x80 >> byte);
        }
    }
    EXPECT_EQ(report::WrongByteMask(0), 0);
    EXPECT_EQ(report::WrongByteMask(~0ULL), 0xFF);
    EXPECT_EQ(report::WrongByteMask(0x0000FF0000000001ULL), 0x80 | 0x04);
}

TEST(BitCounts, SampleMaskJoinsTheTwoBytesOfEachSample) {
    EXPECT_EQ(report::SampleMask(0x80), 0x40);  // first byte of sample 0
    EXPECT_EQ(report::SampleMask(0x40), 0x40);  // second byte of sample 0
    EXPECT_EQ(report::SampleMask(0xC0), 0x40);  // both count once
    EXPECT_EQ(report::SampleMask(0x21), 0x11);
    EXPECT_EQ(report::SampleMask(0x00), 0x00);
    // A whole word of mask bytes: no sample takes a bit of its neighbour byte.
    EXPECT_EQ(report::SampleMask(0x0100000000000080ULL), 0x0100000000000040ULL);
}

TEST(BitCounts, CountAgreesWithALoopOverTheBits) {
    std::uint64_t value = 0x9E3779B97F4A7C15ULL;
    for (int i = 0; i < 1000; ++i) {
        value = value * 6364136223846793005ULL + 1442695040888963407ULL;
        int loop = 0;
        for (int bit = 0; bit < 64; ++bit) {
            loop += static_cast<int>(value >> bit & 1);
        }
        EXPECT_EQ(report::Count(value), loop);
    }
    EXPECT_EQ(report::Count(0), 0);
    EXPECT_EQ(report::Count(~0ULL), 64);
}

TEST(BitCounts, LoadBitsReadsAnMsbFirstStreamAtAnyBit) {
    std::array<std::uint8_t, 16> stream{0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 0x0F};
    EXPECT_EQ(report::LoadBits(stream.data(), 0), 0x123456789ABCDEF0ULL);
    EXPECT_EQ(report::LoadBits(stream.data(), 4), 0x23456789ABCDEF00ULL);
    EXPECT_EQ(report::LoadBits(stream.data(), 8), 0x3456789ABCDEF00FULL);
    EXPECT_EQ(report::LoadBits(stream.data(), 3), 0x123456789ABCDEF0ULL << 3);
}

TEST(C2Shifts, CandidatesStartWithTheLiteralAlignmentAndDescribeThemselves) {
    const auto shifts = report::CandidateShifts();
    ASSERT_FALSE(shifts.empty());
    EXPECT_EQ(shifts.front(), report::C2Shift{});
    // Every whole pointer byte up to 3 sectors either way, single bits up to 16 either way.
    EXPECT_EQ(shifts.size(), 1u + 2u * 882u + 2u * 14u);
    EXPECT_NE(std::find(shifts.begin(), shifts.end(), report::C2Shift{2360}), shifts.end());
    EXPECT_NE(std::find(shifts.begin(), shifts.end(), report::C2Shift{-7056}), shifts.end());
    EXPECT_EQ(std::find(shifts.begin(), shifts.end(), report::C2Shift{17}), shifts.end());
    EXPECT_EQ(report::C2Shift{}.Describe(), "as delivered");
    EXPECT_EQ(report::C2Shift{2352}.Describe(), "1 sector late");
    EXPECT_EQ(report::C2Shift{2360}.Describe(), "1 sector + 1 byte late");
    EXPECT_EQ(report::C2Shift{-2 * 2352 - 40 * 8 - 3}.Describe(),
              "2 sectors + 40 bytes + 3 bits early");
    EXPECT_EQ(report::C2Shift{320}.Describe(), "40 bytes late");
    EXPECT_EQ(report::C2Shift{-1}.Describe(), "1 bit early");
    const report::C2Shift lag{-2360};
    EXPECT_EQ(lag.Sectors(), -1);
    EXPECT_EQ(lag.Bytes(), -1);
    EXPECT_EQ(lag.BitsLeft(), 0);
}

}  // namespace
