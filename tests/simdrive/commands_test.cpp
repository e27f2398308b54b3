// Replies and sense data of the simulated drive's non-read commands.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "simdrive/description.h"
#include "tests/simdrive/command_runner.h"

namespace simdrive {
namespace {

using testkit::Reply;
using testkit::SelectBlock;
using testkit::Send;
using testkit::SendOut;

std::unique_ptr<Drive> MakeDrive(DriveSettings settings = {}, uint64_t sectors = 1000,
                                 DiscSpec spec = {}) {
    return std::make_unique<Drive>(std::move(settings), MakePatternDisc(sectors, 3, spec));
}

std::string Text(const Reply& reply, size_t at, size_t width) {
    return std::string(reply.data.begin() + at, reply.data.begin() + at + width);
}

TEST(InquiryTest, StandardDataPadsIdentificationWithBlanks) {
    DriveSettings settings;
    settings.vendor = "VENDOR";
    settings.product = "CD-RW/DVD 8X";
    settings.revision = "1.2";
    auto drive = MakeDrive(settings);
    const Reply reply = Send(*drive, {0x12, 0, 0, 0, 36, 0}, Direction::in, 36);
    ASSERT_TRUE(reply.Good());
    EXPECT_EQ(reply.result.transferred, 36u);
    EXPECT_EQ(reply.data[0], 0x05);
    EXPECT_EQ(reply.data[1], 0x80);
    EXPECT_EQ(reply.data[4], 31);
    EXPECT_EQ(Text(reply, 8, 8), "VENDOR  ");
    EXPECT_EQ(Text(reply, 16, 16), "CD-RW/DVD 8X    ");
    EXPECT_EQ(Text(reply, 32, 4), "1.2 ");
}

TEST(InquiryTest, BlankIdentificationAndFixedMediumAndShortAllocation) {
    DriveSettings settings;
    settings.vendor = "";
    settings.product = "";
    settings.removable = false;
    auto drive = std::make_unique<Drive>(settings);  // works without a disc
    const Reply full = Send(*drive, {0x12, 0, 0, 0, 36, 0}, Direction::in, 36);
    ASSERT_TRUE(full.Good());
    EXPECT_EQ(full.data[1], 0x00);
    EXPECT_EQ(Text(full, 8, 24), std::string(24, ' '));
    const Reply cut = Send(*drive, {0x12, 0, 0, 0, 5, 0}, Direction::in, 36);
    EXPECT_EQ(cut.result.transferred, 5u);
    EXPECT_EQ(cut.data[5], 0xEE);
    EXPECT_TRUE(Send(*drive, {0x12, 1, 0x80, 0, 36, 0}, Direction::in, 36)
                    .Failed(sense::invalidFieldInCdb));
}

TEST(ReadinessTest, EmptyTrayAnswersNotReadyMediumNotPresent) {
    Drive drive(DriveSettings{});
    for (const auto& cdb :
         std::vector<std::vector<uint8_t>>{{0x00, 0, 0, 0, 0, 0},
                                           {0x01, 0, 0, 0, 0, 0},
                                           {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0},
                                           {0x43, 0, 0, 0, 0, 0, 0, 0x03, 0x24, 0},
                                           testkit::ReadCd(0, 1, 0x10)}) {
        const Reply reply = Send(drive, cdb, Direction::in, cdb[0] < 2 ? 0 : 4000);
        EXPECT_TRUE(reply.Failed(sense::mediumNotPresent)) << "opcode " << int{cdb[0]};
        EXPECT_EQ(reply.result.transferred, 0u);
    }
    drive.InsertDisc(MakePatternDisc(10, 1));
    EXPECT_TRUE(Send(drive, {0x00, 0, 0, 0, 0, 0}, Direction::none, 0).Good());
    EXPECT_TRUE(Send(drive, {0x01, 0, 0, 0, 0, 0}, Direction::none, 0).Good());
}

// Manners count commands: INQUIRY is exempt, the change comes before the spin-up, and a pause
// starts with the read that reaches its sector.
TEST(ReadinessTest, MannersAnswerTheCommandsTheyCount) {
    DriveSettings settings;
    settings.manners.spinUp = 2;
    settings.manners.unitAttentionAsc = 0x28;
    settings.manners.pauseAt = {{30, 2}};
    settings.manners.unitAttentionAt = 60;
    auto drive = MakeDrive(settings, 100);
    const std::vector<uint8_t> ready{0x00, 0, 0, 0, 0, 0};
    EXPECT_TRUE(Send(*drive, {0x12, 0, 0, 0, 36, 0}, Direction::in, 36).Good());
    EXPECT_TRUE(Send(*drive, ready, Direction::none, 0).Failed({0x06, 0x28, 0x00}));
    EXPECT_TRUE(Send(*drive, ready, Direction::none, 0).Failed(sense::becomingReady));
    EXPECT_TRUE(Send(*drive, {0x12, 0, 0, 0, 36, 0}, Direction::in, 36).Good());
    EXPECT_TRUE(Send(*drive, ready, Direction::none, 0).Failed(sense::becomingReady));
    EXPECT_TRUE(Send(*drive, ready, Direction::none, 0).Good());
    EXPECT_TRUE(Send(*drive, testkit::ReadCd(0, 24, 0x10), Direction::in, 24 * 2352).Good());
    for (int i = 0; i < 2; ++i) {
        EXPECT_TRUE(Send(*drive, testkit::ReadCd(24, 24, 0x10), Direction::in, 24 * 2352)
                        .Failed(sense::becomingReady));
    }
    EXPECT_TRUE(Send(*drive, testkit::ReadCd(24, 24, 0x10), Direction::in, 24 * 2352).Good());
    EXPECT_TRUE(Send(*drive, testkit::ReadCd(48, 24, 0x10), Direction::in, 24 * 2352)
                    .Failed({0x06, 0x29, 0x00}));
    EXPECT_TRUE(Send(*drive, testkit::ReadCd(48, 24, 0x10), Direction::in, 24 * 2352).Good());
}

TEST(ReadinessTest, ASlowAreaSpendsItsTimeOnTheDelayGiven) {
    DriveSettings settings;
    settings.manners.slowAt = {{10, 4500}};
    auto drive = MakeDrive(settings, 100);
    std::chrono::milliseconds spent{0};
    drive->SetDelay([&](std::chrono::milliseconds time) { spent += time; });
    EXPECT_TRUE(Send(*drive, testkit::ReadCd(0, 10, 0x10), Direction::in, 10 * 2352).Good());
    EXPECT_EQ(spent.count(), 0);
    EXPECT_TRUE(Send(*drive, testkit::ReadCd(5, 10, 0x10), Direction::in, 10 * 2352).Good());
    EXPECT_EQ(spent.count(), 4500);
}

TEST(CommandTest, UnknownOperationCodeAndHostFaults) {
    auto drive = MakeDrive();
    EXPECT_TRUE(Send(*drive, {0x03, 0, 0, 0, 18, 0}, Direction::in, 18)
                    .Failed(sense::invalidOperationCode));
    const Reply wrongWay = Send(*drive, testkit::ReadCd(0, 1, 0x10), Direction::out, 2352);
    EXPECT_EQ(wrongWay.result.host, HostStatus::directionMismatch);
    EXPECT_EQ(wrongWay.result.transferred, 0u);
    const Reply small = Send(*drive, testkit::ReadCd(0, 2, 0x10), Direction::in, 2352);
    EXPECT_EQ(small.result.host, HostStatus::dataOverrun);
    EXPECT_EQ(small.result.transferred, 0u);
}

// Format 0 descriptors of a three-track disc.
class TocTest : public ::testing::Test {
protected:
    void SetUp() override {
        DiscSpec spec;
        spec.trackStarts = {0, 1000, 4321};
        drive_ = MakeDrive({}, 10000, spec);
    }
    Reply Toc(uint8_t byte1, uint8_t startTrack, uint16_t allocation, uint8_t format = 0,
              uint8_t control = 0) {
        std::vector<uint8_t> cdb{0x43, byte1, format, 0, 0, 0, startTrack, 0, 0, control};
        PutBe16(cdb, 7, allocation);
        return Send(*drive_, cdb, Direction::in, 4000);
    }
    std::unique_ptr<Drive> drive_;
};

TEST_F(TocTest, LbaAddressesEndWithLeadOut) {
    const Reply reply = Toc(0, 0, 804);
    ASSERT_TRUE(reply.Good());
    EXPECT_EQ(reply.result.transferred, 36u);
    EXPECT_EQ(GetBe16(reply.data, 0), 34u);
    EXPECT_EQ(reply.data[2], 1);
    EXPECT_EQ(reply.data[3], 3);
    const uint32_t starts[] = {0, 1000, 4321, 10000};
    const uint8_t numbers[] = {1, 2, 3, 0xAA};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(reply.data[4 + 8 * i + 1], 0x10);
        EXPECT_EQ(reply.data[4 + 8 * i + 2], numbers[i]);
        EXPECT_EQ(GetBe32(reply.data, 4 + 8 * i + 4), starts[i]);
    }
}

TEST_F(TocTest, MsfStartingTrackAndAllocation) {
    const Reply msf = Toc(0x02, 2, 804);
    ASSERT_TRUE(msf.Good());
    EXPECT_EQ(msf.result.transferred, 4u + 3 * 8);
    EXPECT_EQ(msf.data[6], 2);
    // Sector 1000 + 150 = 00:15:25.
    EXPECT_EQ(msf.data[9], 0);
    EXPECT_EQ(msf.data[10], 15);
    EXPECT_EQ(msf.data[11], 25);
    const Reply leadOutOnly = Toc(0, 0xAA, 804);
    EXPECT_EQ(leadOutOnly.result.transferred, 12u);
    EXPECT_EQ(leadOutOnly.data[6], 0xAA);
    const Reply cut = Toc(0, 0, 10);
    EXPECT_EQ(cut.result.transferred, 10u);
    EXPECT_EQ(GetBe16(cut.data, 0), 34u);
    EXPECT_TRUE(Toc(0, 4, 804).Failed(sense::invalidFieldInCdb));
}

TEST_F(TocTest, FullTocInBothFormsBinary) {
    const Reply byte2 = Toc(0, 0, 3524, 2);
    const Reply control = Toc(0, 0, 3524, 0, 0x80);
    ASSERT_TRUE(byte2.Good());
    ASSERT_TRUE(control.Good());
    EXPECT_EQ(byte2.data, control.data);
    const size_t count = (GetBe16(byte2.data, 0) - 2) / 11;
    ASSERT_EQ(count, 6u);  // A0, A1, A2 and three tracks
    const auto descriptor = [&](size_t i) { return byte2.data.begin() + 4 + 11 * i; };
    EXPECT_EQ(descriptor(0)[3], 0xA0);
    EXPECT_EQ(descriptor(0)[8], 1);
    EXPECT_EQ(descriptor(1)[8], 3);
    // Lead-out 10000 + 150 = 02:15:25.
    EXPECT_EQ(descriptor(2)[3], 0xA2);
    EXPECT_EQ(descriptor(2)[8], 2);
    EXPECT_EQ(descriptor(2)[9], 15);
    EXPECT_EQ(descriptor(2)[10], 25);
    // Track 3 at 4321 + 150 = 00:59:46.
    EXPECT_EQ(descriptor(5)[3], 3);
    EXPECT_EQ(descriptor(5)[9], 59);
    EXPECT_EQ(descriptor(5)[10], 46);
}

TEST(FullTocTest, BcdAddressesAndRejectedForm) {
    DriveSettings settings;
    settings.fullTocBcd = true;
    settings.fullTocInByte2 = false;
    DiscSpec spec;
    spec.trackStarts = {0, 1000};
    auto drive = MakeDrive(settings, 10000, spec);
    EXPECT_TRUE(Send(*drive, {0x43, 0, 2, 0, 0, 0, 0, 0x0D, 0xC4, 0}, Direction::in, 3524)
                    .Failed(sense::invalidFieldInCdb));
    const Reply reply =
        Send(*drive, {0x43, 0, 0, 0, 0, 0, 0, 0x0D, 0xC4, 0x80}, Direction::in, 3524);
    ASSERT_TRUE(reply.Good());
    const uint8_t* leadOut = reply.data.data() + 4 + 22;
    EXPECT_EQ(leadOut[3], 0xA2);
    EXPECT_EQ(leadOut[8], 0x02);
    EXPECT_EQ(leadOut[9], 0x15);
    EXPECT_EQ(leadOut[10], 0x25);
    const uint8_t* track2 = reply.data.data() + 4 + 44;
    EXPECT_EQ(track2[3], 0x02);
    EXPECT_EQ(track2[9], 0x15);
    EXPECT_EQ(track2[10], 0x25);
}

TEST(FullTocTest, AudioSessionThenDataSession) {
    DiscSpec spec;
    spec.dataSessionSectors = 3000;
    auto drive = MakeDrive({}, 5000, spec);
    const Reply toc = Send(*drive, {0x43, 0, 0, 0, 0, 0, 0, 0x03, 0x24, 0}, Direction::in, 804);
    ASSERT_TRUE(toc.Good());
    EXPECT_EQ(toc.data[3], 2);
    EXPECT_EQ(toc.data[4 + 8 + 1], 0x14);
    EXPECT_EQ(GetBe32(toc.data, 4 + 8 + 4), 5000u + 11400);
    EXPECT_EQ(GetBe32(toc.data, 4 + 16 + 4), 5000u + 11400 + 3000);
    const Reply full = Send(*drive, {0x43, 0, 2, 0, 0, 0, 0, 0x0D, 0xC4, 0}, Direction::in, 3524);
    ASSERT_TRUE(full.Good());
    EXPECT_EQ(full.data[3], 2);
    EXPECT_EQ((GetBe16(full.data, 0) - 2) / 11, 8u);
    // Session 1's lead-out: 5000 + 150 = 01:08:50.
    const uint8_t* firstLeadOut = full.data.data() + 4 + 22;
    EXPECT_EQ(firstLeadOut[0], 1);
    EXPECT_EQ(firstLeadOut[8], 1);
    EXPECT_EQ(firstLeadOut[9], 8);
    EXPECT_EQ(firstLeadOut[10], 50);
    EXPECT_TRUE(Send(*drive, testkit::ReadCd(5000 + 11400, 1, 0x10), Direction::in, 2352)
                    .Failed(sense::illegalModeForTrack));
    EXPECT_TRUE(Send(*drive, testkit::Read10(16400, 1), Direction::in, 2048).Good());
    EXPECT_TRUE(Send(*drive, testkit::Read10(0, 1), Direction::in, 2048)
                    .Failed(sense::illegalModeForTrack));
}

TEST(CapacityTest, LastBlockOfTheDisc) {
    auto drive = MakeDrive({}, 333000);
    const Reply reply = Send(*drive, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, Direction::in, 8);
    ASSERT_TRUE(reply.Good());
    EXPECT_EQ(GetBe32(reply.data, 0), 332999u);
    EXPECT_EQ(GetBe32(reply.data, 4), 2048u);
}

TEST(ModeSenseTest, CapabilitiesPageInBothFormsWithC2Bit) {
    for (const bool c2 : {true, false}) {
        DriveSettings settings;
        settings.c2PointerBit = c2;
        auto drive = MakeDrive(settings);
        const Reply six = Send(*drive, {0x1A, 0x08, 0x2A, 0, 0x22, 0}, Direction::in, 34);
        ASSERT_TRUE(six.Good());
        EXPECT_EQ(six.result.transferred, 26u);
        EXPECT_EQ(six.data[3], 0);
        EXPECT_EQ(six.data[4], 0x2A);
        EXPECT_EQ((six.data[4 + 5] & 0x10) != 0, c2);
        const Reply ten =
            Send(*drive, {0x5A, 0x08, 0x2A, 0, 0, 0, 0, 0, 0x26, 0}, Direction::in, 38);
        ASSERT_TRUE(ten.Good());
        EXPECT_EQ(GetBe16(ten.data, 6), 0u);
        EXPECT_EQ(ten.data[8], 0x2A);
        EXPECT_EQ((ten.data[8 + 5] & 0x10) != 0, c2);
        EXPECT_EQ(GetBe16(ten.data, 0) + 2u, ten.result.transferred);
    }
}

TEST(ModeSenseTest, BlockDescriptorFollowsModeSelectAndRejections) {
    DriveSettings settings;
    settings.densityC2 = true;
    settings.modeSense6 = false;
    auto drive = MakeDrive(settings);
    EXPECT_TRUE(Send(*drive, {0x1A, 0x08, 0x2A, 0, 0x22, 0}, Direction::in, 34)
                    .Failed(sense::invalidOperationCode));
    ASSERT_TRUE(SelectBlock(*drive, 0x82, 2646).Good());
    const Reply ten = Send(*drive, {0x5A, 0, 0x2A, 0, 0, 0, 0, 0, 0x30, 0}, Direction::in, 48);
    ASSERT_TRUE(ten.Good());
    EXPECT_EQ(GetBe16(ten.data, 6), 8u);
    EXPECT_EQ(ten.data[8], 0x82);
    EXPECT_EQ(GetBe24(ten.data, 8 + 5), 2646u);
    EXPECT_EQ(ten.data[16], 0x2A);
    EXPECT_TRUE(Send(*drive, {0x5A, 0x08, 0x0E, 0, 0, 0, 0, 0, 0x30, 0}, Direction::in, 48)
                    .Failed(sense::invalidFieldInCdb));
}

TEST(ModeSelectTest, DensityAndBlockLengthCombinations) {
    DriveSettings settings;
    settings.densityC2 = false;
    auto drive = MakeDrive(settings);
    EXPECT_TRUE(SelectBlock(*drive, 0x82, 2646).Failed(sense::invalidFieldInParameterList));
    EXPECT_TRUE(SelectBlock(*drive, 0x00, 2000).Failed(sense::invalidFieldInParameterList));
    EXPECT_TRUE(SelectBlock(*drive, 0x00, 2352).Good());
    EXPECT_TRUE(SelectBlock(*drive, 0x00, 2048).Good());
    EXPECT_TRUE(SendOut(*drive, {0x15, 0x10, 0, 0, 8, 0}, {0, 0, 0, 8, 0, 0, 0, 0})
                    .Failed(sense::parameterListLengthError));
    EXPECT_TRUE(SendOut(*drive, {0x15, 0x10, 0, 0, 4, 0}, {0, 0, 0, 0}).Good());
    EXPECT_TRUE(SendOut(*drive, {0x15, 0x11, 0, 0, 12, 0}, std::vector<uint8_t>(12, 0))
                    .Failed(sense::savingNotSupported));
}

}  // namespace
}  // namespace simdrive
