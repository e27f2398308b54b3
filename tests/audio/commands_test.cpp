// Every command block the audio layer sends, byte for byte.
#include "audio/commands.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<std::uint8_t> Bytes(const audio::CommandBlock& block) {
    const auto bytes = block.Bytes();
    return {bytes.begin(), bytes.end()};
}

using B = std::vector<std::uint8_t>;

TEST(AudioCommands, TableOfContentsCapacityAndModePages) {
    EXPECT_EQ(Bytes(audio::ReadTocCommand()), (B{0x43, 0, 0, 0, 0, 0, 0, 0x03, 0x24, 0}));
    EXPECT_EQ(Bytes(audio::ReadFullTocCommand(audio::FullTocForm::formatField)),
              (B{0x43, 0, 0x02, 0, 0, 0, 0, 0x0D, 0xC4, 0}));
    EXPECT_EQ(Bytes(audio::ReadFullTocCommand(audio::FullTocForm::controlByte)),
              (B{0x43, 0, 0, 0, 0, 0, 0, 0x0D, 0xC4, 0x80}));
    EXPECT_EQ(Bytes(audio::ReadCapacityCommand()), (B{0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Bytes(audio::CapabilitiesSense6Command()), (B{0x1A, 0x08, 0x2A, 0, 0x22, 0}));
    EXPECT_EQ(Bytes(audio::CapabilitiesSense10Command()),
              (B{0x5A, 0x08, 0x2A, 0, 0, 0, 0, 0, 0x26, 0}));
    EXPECT_EQ(Bytes(audio::DensitySelectCommand()), (B{0x15, 0, 0, 0, 0x0C, 0}));
    const auto list = audio::C2DensityParameterList();
    EXPECT_EQ(B(list.begin(), list.end()), (B{0, 0, 0, 8, 0x82, 0, 0, 0, 0, 0, 0x0A, 0x56}));
    EXPECT_EQ(Bytes(audio::RezeroUnitCommand()), (B{0x01, 0, 0, 0, 0, 0}));
}

TEST(AudioCommands, C2ReadsOfEachMode) {
    const std::int64_t sector = 0x0102'0304;
    EXPECT_EQ(Bytes(audio::C2ReadCommand(0, sector, 24)),
              (B{0xBE, 0x04, 1, 2, 3, 4, 0, 0, 24, 0x14, 0, 0}));
    EXPECT_EQ(Bytes(audio::C2ReadCommand(1, sector, 24)),
              (B{0xD8, 0, 1, 2, 3, 4, 0, 0, 0, 24, 0x04, 0}));
    EXPECT_EQ(Bytes(audio::C2ReadCommand(2, sector, 24)), (B{0x28, 0, 1, 2, 3, 4, 0, 0, 24, 0}));
    EXPECT_EQ(Bytes(audio::C2ReadCommand(3, sector, 24)),
              (B{0xBE, 0x04, 1, 2, 3, 4, 0, 0, 24, 0x12, 0, 0}));
    EXPECT_EQ(Bytes(audio::C2ReadCommand(9, sector, 1)),
              (B{0xBE, 0x04, 1, 2, 3, 4, 0, 0, 1, 0x12, 0, 0}));
}

TEST(AudioCommands, OnlyTheLowThirtyTwoBitsOfTheSectorAreSent) {
    EXPECT_EQ(Bytes(audio::C2ReadCommand(0, 0x1'8000'0001, 1)),
              (B{0xBE, 0x04, 0x80, 0, 0, 1, 0, 0, 1, 0x14, 0, 0}));
    EXPECT_EQ(Bytes(audio::C2ReadCommand(1, -1, 0)),
              (B{0xD8, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0x04, 0}));
}

}  // namespace
