// Drive descriptions: the format's rules and the shipped drives' behaviour.
#include <gtest/gtest.h>

#include "simdrive/description.h"
#include "tests/simdrive/command_runner.h"
#include "tests/simdrive/temp_files.h"

namespace simdrive {
namespace {

using testkit::Reply;
using testkit::Send;

std::optional<DriveSet> ParseText(const std::string& text, std::string& error,
                                  const std::string& base = ".") {
    return DriveSet::Parse(text, base, LoadOptions{}, "test.drive", error);
}

TEST(DescriptionTest, ParsesSettingsQuotedBlanksAndComments) {
    std::string error;
    auto set = ParseText(R"(# two drives
[drive]
adapter = 2
target = 5
vendor = "AB  #C  "   # a quoted '#' stays
product = " X"
revision = ""
read_cd = 0x10 0x14
vendor_d8 = 0x04
full_toc = control
read_offset = -1164
c2_granularity = sample
c2_late = yes
disc = pattern 500 7
tracks = 0 100 200
scratch = 10 5 0.5 2
unreadable = 40 41

[drive]
adapter = 2
target = 6
disc = none
)",
                         error);
    ASSERT_TRUE(set) << error;
    ASSERT_EQ(set->Count(), 2u);
    Drive* drive = set->Find(2, 5, 0);
    ASSERT_NE(drive, nullptr);
    const DriveSettings& s = drive->Settings();
    EXPECT_EQ(s.vendor, "AB  #C  ");
    EXPECT_EQ(s.product, " X");
    EXPECT_EQ(s.revision, "");
    EXPECT_EQ(s.readCdForms, (std::vector<uint8_t>{0x10, 0x14}));
    EXPECT_EQ(s.vendorD8Forms, (std::vector<uint8_t>{0x04}));
    EXPECT_FALSE(s.fullTocInByte2);
    EXPECT_TRUE(s.fullTocInControlByte);
    EXPECT_EQ(s.readOffsetSamples, -1164);
    EXPECT_EQ(s.honesty.granularity, FlagGranularity::sample);
    EXPECT_TRUE(s.honesty.oneSectorLate);
    EXPECT_EQ(drive->LeadOut(), 500);
    EXPECT_TRUE(drive->Truth(41).unreadable);
    EXPECT_FALSE(set->Find(2, 6, 0)->HasDisc());
    EXPECT_EQ(set->Find(2, 7, 0), nullptr);
}

TEST(DescriptionTest, ErrorsNameTheLineAndTheReason) {
    const std::pair<std::string, std::string> cases[] = {
        {"adapter = 1\n", "test.drive:1: expected '[drive]'"},
        {"[drive]\n\ncolour = red\n", "test.drive:3: unknown key 'colour'"},
        {"[drive]\ntarget = 300\n", "test.drive:2: target: '300' is not a whole number"},
        {"[drive]\nvendor = \"NINE CHARS\"\n", "longer than 8 characters"},
        {"[drive]\nread_cd = 0x16\n", "not one the drive model knows"},
        {"[drive]\nc2_flag_wrong = 1.5\n", "not a chance from 0 to 1"},
        {"[drive]\ndisc = floppy\n", "disc is 'none'"},
        {"[drive]\nremovable\n", "expected 'key = value'"},
        {"[drive]\n[drive]\n", "test.drive:2: another drive already has this address"},
        {"[drive]\ndisc = pattern 100\ntracks = 0 200\n", "test.drive:1: track starts"},
        {"[drive]\ndisc = wav missing.wav\n", "cannot open './missing.wav'"},
        {"[drive]\nunit_attention = 30\n", "neither 28 (medium changed) nor 29 (reset)"},
        {"[drive]\npause_at = 100\n", "'100' is not SECTOR:N"},
        {"[drive]\nslow_at = 100:x\n", "'x' is not a whole number"},
        {"# nothing\n", "describes no drive"},
    };
    for (const auto& [text, message] : cases) {
        std::string error;
        EXPECT_FALSE(ParseText(text, error)) << text;
        EXPECT_NE(error.find(message), std::string::npos) << error;
    }
}

// A CD holds up to 99 tracks; with a data session after the audio one, that track is the 99th.
TEST(DescriptionTest, NinetyNineTracksReachTheTableOfContentsAndTheCapacity) {
    std::string starts;
    for (int track = 0; track < 99; ++track) {
        starts += ' ';
        starts += std::to_string(track * 10);
    }
    std::string error;
    auto set = ParseText("[drive]\ndisc = pattern 1000\ntracks =" + starts + "\n", error);
    ASSERT_TRUE(set) << error;
    Drive& drive = set->At(0);
    const Reply toc = Send(drive, {0x43, 0, 0, 0, 0, 0, 1, 0x03, 0x24, 0}, Direction::in, 804);
    ASSERT_TRUE(toc.Good());
    EXPECT_EQ(toc.result.transferred, 4u + 100 * 8);
    EXPECT_EQ(GetBe16(toc.data, 0), 802u);
    EXPECT_EQ(toc.data[2], 1);
    EXPECT_EQ(toc.data[3], 99);
    for (std::uint32_t i = 0; i < 99; ++i) {
        EXPECT_EQ(toc.data[4 + 8 * i + 2], i + 1);
        EXPECT_EQ(GetBe32(toc.data, 4 + 8 * i + 4), i * 10);
    }
    EXPECT_EQ(toc.data[4 + 8 * 99 + 2], 0xAA);
    EXPECT_EQ(GetBe32(toc.data, 4 + 8 * 99 + 4), 1000u);
    const Reply capacity = Send(drive, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, Direction::in, 8);
    ASSERT_TRUE(capacity.Good());
    EXPECT_EQ(GetBe32(capacity.data, 0), 999u);

    EXPECT_FALSE(ParseText("[drive]\ndisc = pattern 1000\ntracks =" + starts + " 995\n", error));
    EXPECT_FALSE(ParseText(
        "[drive]\ndisc = pattern 1000\ntracks =" + starts + "\ndata_session = 100\n", error));
    EXPECT_NE(error.find("at most 98 audio tracks"), std::string::npos) << error;
}

TEST(DescriptionTest, WavPathIsRelativeToTheDescriptionUnlessOverridden) {
    testkit::TempPath wav("relative.wav");
    testkit::WritePatternWav(wav.Path(), 120, 3);
    const size_t slash = wav.Path().find_last_of('/');
    const std::string directory = wav.Path().substr(0, slash);
    const std::string name = wav.Path().substr(slash + 1);
    std::string error;
    auto relative = ParseText("[drive]\ndisc = wav " + name + "\n", error, directory);
    ASSERT_TRUE(relative) << error;
    EXPECT_EQ(relative->At(0).LeadOut(), 120);
    LoadOptions override{wav.Path()};
    auto replaced =
        DriveSet::Parse("[drive]\ndisc = wav Reference.wav\n", "/nowhere", override, "x", error);
    ASSERT_TRUE(replaced) << error;
    EXPECT_EQ(replaced->At(0).LeadOut(), 120);
}

// The shipped descriptions, each over a short stand-in for the reference image.
class ShippedDriveTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        wav_ = new testkit::TempPath("shipped.wav");
        testkit::WritePatternWav(wav_->Path(), 2000, 12);
    }
    static void TearDownTestSuite() {
        delete wav_;
        wav_ = nullptr;
    }
    static DriveSet Load(const std::string& name) {
        std::string error;
        auto set = DriveSet::Load(std::string(SIMDRIVE_DRIVES_DIR) + "/" + name,
                                  LoadOptions{wav_->Path()}, error);
        EXPECT_TRUE(set) << error;
        return set ? std::move(*set) : DriveSet{};
    }
    static bool Reads(Drive& drive, std::vector<uint8_t> cdb, size_t bytes) {
        return Send(drive, std::move(cdb), Direction::in, bytes).Good();
    }
    static std::string Identification(Drive& drive) {
        const Reply reply = Send(drive, {0x12, 0, 0, 0, 36, 0}, Direction::in, 36);
        return std::string(reply.data.begin() + 8, reply.data.begin() + 32);
    }
    static bool C2Bit(Drive& drive) {
        const Reply reply =
            Send(drive, {0x5A, 0x08, 0x2A, 0, 0, 0, 0, 0, 0x26, 0}, Direction::in, 38);
        return (reply.data[8 + 5] & 0x10) != 0;
    }
    static bool DensityC2(Drive& drive) {
        return testkit::SelectBlock(drive, 0x82, 2646).Good() &&
               Reads(drive, testkit::Read10(0, 2), 2 * 2646);
    }
    static testkit::TempPath* wav_;
};

testkit::TempPath* ShippedDriveTest::wav_ = nullptr;

TEST_F(ShippedDriveTest, AllC2Forms) {
    DriveSet set = Load("all-c2-forms.drive");
    Drive& drive = set.At(0);
    EXPECT_TRUE(C2Bit(drive));
    EXPECT_TRUE(Reads(drive, testkit::ReadCd(0, 2, 0x14), 2 * 2648));
    EXPECT_TRUE(Reads(drive, testkit::ReadCd(0, 2, 0x12), 2 * 2646));
    EXPECT_TRUE(Reads(drive, testkit::ReadD8(0, 2, 0x04), 2 * 2646));
    EXPECT_TRUE(DensityC2(drive));
    // The scratch at sector 1500 lands on the short image too.
    EXPECT_TRUE(drive.Truth(1510).corrupted != SectorTruth{}.corrupted);
}

TEST_F(ShippedDriveTest, VendorReadOnly) {
    DriveSet set = Load("d8-only.drive");
    Drive& drive = set.At(0);
    EXPECT_FALSE(C2Bit(drive));
    EXPECT_FALSE(Reads(drive, testkit::ReadCd(0, 1, 0x10), 2352));
    EXPECT_TRUE(Reads(drive, testkit::ReadD8(0, 2, 0x04), 2 * 2646));
    EXPECT_FALSE(DensityC2(drive));
    EXPECT_FALSE(Reads(drive, {0x1A, 0x08, 0x2A, 0, 0x22, 0}, 34));
    EXPECT_FALSE(Reads(drive, {0x43, 0, 2, 0, 0, 0, 0, 0x0D, 0xC4, 0}, 3524));
    EXPECT_TRUE(Reads(drive, {0x43, 0, 0, 0, 0, 0, 0, 0x0D, 0xC4, 0x80}, 3524));
}

TEST_F(ShippedDriveTest, DensitySwitchOnly) {
    DriveSet set = Load("density-c2.drive");
    Drive& drive = set.At(0);
    EXPECT_FALSE(Reads(drive, testkit::ReadCd(0, 1, 0x12), 2646));
    EXPECT_FALSE(Reads(drive, testkit::ReadD8(0, 1, 0x04), 2646));
    EXPECT_TRUE(DensityC2(drive));
}

TEST_F(ShippedDriveTest, NoC2AtAll) {
    DriveSet set = Load("no-c2.drive");
    Drive& drive = set.At(0);
    EXPECT_FALSE(C2Bit(drive));
    EXPECT_TRUE(Reads(drive, testkit::ReadCd(0, 1, 0x10), 2352));
    EXPECT_FALSE(Reads(drive, testkit::ReadCd(0, 1, 0x12), 2646));
    EXPECT_FALSE(Reads(drive, testkit::ReadCd(0, 1, 0x14), 2648));
    EXPECT_FALSE(Reads(drive, testkit::ReadD8(0, 1, 0x04), 2646));
    EXPECT_FALSE(DensityC2(drive));
}

TEST_F(ShippedDriveTest, PlextorStyleIdentificationWithReadCd12) {
    DriveSet set = Load("plextor-style.drive");
    Drive& drive = set.At(0);
    EXPECT_EQ(Identification(drive).substr(0, 13), "PLEXTOR CD-R ");
    EXPECT_TRUE(C2Bit(drive));
    EXPECT_TRUE(Reads(drive, testkit::ReadCd(0, 2, 0x12), 2 * 2646));
    EXPECT_FALSE(Reads(drive, testkit::ReadCd(0, 2, 0x14), 2 * 2648));
}

TEST_F(ShippedDriveTest, EmptyTrayAndBlankIdentification) {
    DriveSet empty = Load("no-disc.drive");
    EXPECT_TRUE(
        Send(empty.At(0), {0, 0, 0, 0, 0, 0}, Direction::none, 0).Failed(sense::mediumNotPresent));
    DriveSet blank = Load("blank-identification.drive");
    EXPECT_EQ(Identification(blank.At(0)), std::string(24, ' '));
    EXPECT_EQ(Send(blank.At(0), {0x12, 0, 0, 0, 36, 0}, Direction::in, 36).data[0], 0x05);
}

TEST_F(ShippedDriveTest, AllDrivesInOneSet) {
    DriveSet set = Load("all-drives.drive");
    ASSERT_EQ(set.Count(), 7u);
    EXPECT_NE(set.Find(1, 0, 0), nullptr);
    EXPECT_NE(set.Find(4, 0, 0), nullptr);
    EXPECT_FALSE(set.Find(3, 1, 0)->HasDisc());
    EXPECT_TRUE(set.Find(2, 0, 0)->Settings().honesty.oneSectorLate);
}

}  // namespace
}  // namespace simdrive
