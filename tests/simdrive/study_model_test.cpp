// What the drive model learned for studies: honesty, lag and granularity per form, honesty per
// speed, SET CD SPEED and the capabilities page, the drive's own block error byte.
#include <gtest/gtest.h>

#include <algorithm>

#include "simdrive/description.h"
#include "tests/simdrive/command_runner.h"

namespace simdrive {
namespace {

using testkit::Send;

DriveSet MakeDrive(const std::string& keys) {
    std::string error;
    auto set = DriveSet::Parse("[drive]\ndisc = pattern 60 4\nscratch = 10 30 0.05 4\n" + keys, ".",
                               {}, "test", error);
    EXPECT_TRUE(set) << error;
    return std::move(*set);
}

// The pointers of a lag of L bytes are the stream of own flags moved L bytes on.
TEST(StudyModel, LateFormsSendTheFlagsOfEarlierBytes) {
    for (const uint32_t lag : {40u, 294u, 295u}) {
        std::string error;
        auto set = DriveSet::Parse(
            "[drive]\ndisc = pattern 60 4\nscratch = 10 30 0.05 4\n"
            "c2_form = d8 lag " +
                std::to_string(lag) + "\n",
            ".", {}, "test", error);
        ASSERT_TRUE(set) << error;
        Drive& drive = set->At(0);
        std::vector<uint8_t> stream;
        for (int64_t s = 0; s < 60; ++s) {
            const FormTruth truth = drive.Truth(s, C2Form::vendorD8, kMaxReadSpeedKBps);
            stream.insert(stream.end(), truth.flagged.begin(), truth.flagged.end());
        }
        for (int64_t s = 0; s < 60; ++s) {
            const FormTruth truth = drive.Truth(s, C2Form::vendorD8, kMaxReadSpeedKBps);
            for (size_t b = 0; b < kC2Bytes; ++b) {
                const int64_t from = s * 294 + static_cast<int64_t>(b) - lag;
                ASSERT_EQ(truth.delivered[b], from < 0 ? 0 : stream[static_cast<size_t>(from)])
                    << lag << " " << s << " " << b;
            }
        }
        // Other forms keep the drive's own honesty: on time.
        EXPECT_EQ(drive.Truth(20, C2Form::readCd14, kMaxReadSpeedKBps).delivered,
                  drive.Truth(20).flagged);
    }
}

TEST(StudyModel, SectorGranularityZeroPointersAndTheBlockErrorByte) {
    DriveSet set = MakeDrive(
        "c2_form = readcd14 granularity sector block_error errors\n"
        "c2_form = readcd12 zero\nc2_flag_wrong = 0.5\n");
    Drive& drive = set.At(0);
    const FormTruth whole = drive.Truth(20, C2Form::readCd14, kMaxReadSpeedKBps);
    EXPECT_TRUE(std::all_of(whole.flagged.begin(), whole.flagged.end(),
                            [](uint8_t b) { return b == 0xFF; }));
    const FormTruth zero = drive.Truth(20, C2Form::readCd12, kMaxReadSpeedKBps);
    EXPECT_TRUE(std::all_of(zero.delivered.begin(), zero.delivered.end(),
                            [](uint8_t b) { return b == 0; }));
    const auto reply = Send(drive, testkit::ReadCd(20, 1, 0x14), Direction::in, 2648);
    EXPECT_EQ(reply.data[2352 + 294], 1);  // the sector holds wrong bytes
    const auto clean = Send(drive, testkit::ReadCd(50, 1, 0x14), Direction::in, 2648);
    EXPECT_EQ(clean.data[2352 + 294], 0);
}

TEST(StudyModel, SetCdSpeedChoosesASpeedTheCapabilitiesPageShowsAndTheRatesFollow) {
    DriveSet set = MakeDrive("read_speeds = 8x 24x 48x\nc2_speed = 24x flag_good 0.2\n");
    Drive& drive = set.At(0);
    EXPECT_EQ(drive.SelectSpeed(1412), 1412u);
    EXPECT_EQ(drive.SelectSpeed(4000), 1412u);
    EXPECT_EQ(drive.SelectSpeed(100), 1412u);  // below every speed: the slowest
    EXPECT_EQ(drive.SelectSpeed(0xFFFF), 8468u);
    EXPECT_EQ(drive.HonestyOf(C2Form::vendorD8, 1412).flagGood, 0.0);
    EXPECT_EQ(drive.HonestyOf(C2Form::vendorD8, 8468).flagGood, 0.2);
    const std::vector<uint8_t> setSpeed{0xBB, 0, 0x0F, 0xA0, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0};
    EXPECT_TRUE(Send(drive, setSpeed, Direction::none, 0).Good());
    EXPECT_EQ(drive.ReadSpeed(), 1412u);
    const std::vector<uint8_t> sense{0x1A, 0x08, 0x2A, 0, 0x22, 0};
    const auto page = Send(drive, sense, Direction::in, 34);
    ASSERT_TRUE(page.Good());
    EXPECT_EQ(page.data[4 + 8] << 8 | page.data[4 + 9], 8468);    // fastest
    EXPECT_EQ(page.data[4 + 14] << 8 | page.data[4 + 15], 1412);  // current

    DriveSet stubborn = MakeDrive("set_cd_speed = no\n");
    const auto refused = Send(stubborn.At(0), setSpeed, Direction::none, 0);
    EXPECT_FALSE(refused.Good());
    EXPECT_EQ(refused.sense[12], 0x20);
}

TEST(StudyModel, BadStudyKeysAreRefusedWithTheirLine) {
    for (const char* keys :
         {"c2_form = readcd13\n", "c2_form = d8 lag\n", "c2_form = d8 lag 900\n",
          "c2_form = d8 granularity word\n", "c2_speed = 8x\n", "c2_speed = 8x speed 0.1\n",
          "read_speeds = 0x\n", "c2_block_error = some\n", "not_ready_reads = 0\n"}) {
        std::string error;
        EXPECT_FALSE(DriveSet::Parse(std::string("[drive]\n") + keys, ".", {}, "test", error))
            << keys;
        EXPECT_EQ(error.rfind("test:2: ", 0), 0u) << error;
    }
}

}  // namespace
}  // namespace simdrive
