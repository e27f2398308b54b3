// The report's counts against the simulated drive's truth: drives with known damage, known
// read offsets and known C2 honesty, read the way the extraction program reads them.
#include <gtest/gtest.h>

#include <sstream>

#include "report/c2report.h"
#include "report/summary.h"
#include "tests/report/simulated_extraction.h"
#include "tests/support/temp_dir.h"

namespace {

using report_test::Expected;
using report_test::SimulatedExtraction;

constexpr std::int64_t kSectors = 1500;

struct DriveCase {
    const char* name;
    std::int32_t offset;
    double flagWrong;
    double flagGood;
    simdrive::FlagGranularity granularity;
    bool late;
    std::vector<std::int64_t> unreadable;
};

void PrintTo(const DriveCase& c, std::ostream* os) {
    *os << c.name;
}

simdrive::DiscSpec Damage(const DriveCase& c) {
    simdrive::DiscSpec spec;
    spec.damage.seed = 4242;
    spec.damage.scratches = {{300, 40, 0.02, 16}, {900, 3, 0.2, 4}, {1200, 1, 0.05, 8}};
    spec.damage.unreadable = c.unreadable;
    return spec;
}

simdrive::DriveSettings Settings(const DriveCase& c) {
    simdrive::DriveSettings settings;
    settings.readOffsetSamples = c.offset;
    settings.honesty = {c.flagWrong, c.flagGood, c.granularity, c.late};
    return settings;
}

void ExpectCounts(const report::PassResult& pass, const Expected& truth) {
    EXPECT_EQ(pass.bytes.wrong, truth.bytes.wrong);
    EXPECT_EQ(pass.bytes.flagged, truth.bytes.flagged);
    EXPECT_EQ(pass.bytes.detected, truth.bytes.detected);
    EXPECT_EQ(pass.samples.wrong, truth.samples.wrong);
    EXPECT_EQ(pass.samples.flagged, truth.samples.flagged);
    EXPECT_EQ(pass.samples.detected, truth.samples.detected);
    EXPECT_EQ(pass.sectorsWithErrors, truth.sectorsWithErrors);
    EXPECT_EQ(pass.zeroFilledSectors, truth.zeroFilledSectors);
    ASSERT_EQ(pass.sectors.size(), truth.sectors.size());
    for (std::size_t s = 0; s < truth.sectors.size(); ++s) {
        const auto& got = pass.sectors[s];
        const auto& want = truth.sectors[s];
        ASSERT_TRUE(
            got.wrongBytes == want.wrongBytes && got.flaggedBytes == want.flaggedBytes &&
            got.detectedBytes == want.detectedBytes && got.wrongSamples == want.wrongSamples &&
            got.flaggedSamples == want.flaggedSamples &&
            got.detectedSamples == want.detectedSamples && got.zeroFilled == want.zeroFilled)
            << "sector " << s << ": wrong " << got.wrongBytes << "/" << want.wrongBytes
            << ", flagged " << got.flaggedBytes << "/" << want.flaggedBytes << ", detected "
            << got.detectedBytes << "/" << want.detectedBytes;
    }
}

class AgainstTruth : public testing::TestWithParam<DriveCase> {
protected:
    report::Verdict Compare(SimulatedExtraction& extraction) {
        extraction.Write(dir_.Path());
        report::Verdict verdict;
        std::ostringstream out, err;
        const int code =
            report::BuildVerdict({(dir_ / "Reference.wav").string(), (dir_ / "Drive.wav").string(),
                                  (dir_ / "Drive.c2").string()},
                                 verdict, out, err);
        EXPECT_EQ(code, report::kExitOk) << err.str();
        return verdict;
    }
    testing_support::TempDir dir_;
};

TEST_P(AgainstTruth, CountsEqualTheModelsTruth) {
    const DriveCase& c = GetParam();
    SimulatedExtraction extraction(Settings(c), Damage(c), kSectors);
    const report::Verdict verdict = Compare(extraction);
    ASSERT_TRUE(verdict.alignment.found);
    EXPECT_EQ(verdict.alignment.offsetFrames, c.offset);
    EXPECT_FALSE(verdict.alignment.channelsSwapped);
    EXPECT_EQ(verdict.alignment.agreeing, verdict.alignment.probes);

    const Expected literal = extraction.Truth(0);
    ASSERT_GT(literal.bytes.wrong, 0u);
    ExpectCounts(verdict.literal, literal);
    if (c.late) {
        // The late pointers fit when moved one sector: then they are the model's own flags.
        EXPECT_EQ(verdict.best.shift, (report::C2Shift{1, 0}));
        ASSERT_TRUE(verdict.moved.has_value());
        ExpectCounts(*verdict.moved, extraction.Truth(1));
    } else {
        EXPECT_EQ(verdict.best.shift, report::C2Shift{});
        EXPECT_FALSE(verdict.moved.has_value());
    }
    if (!c.unreadable.empty()) {
        EXPECT_GT(verdict.literal.zeroFilledSectors, 0);
    }
}

using simdrive::FlagGranularity;
INSTANTIATE_TEST_SUITE_P(
    Drives, AgainstTruth,
    testing::Values(
        DriveCase{"HonestNoOffset", 0, 1.0, 0.0, FlagGranularity::byte, false, {}},
        DriveCase{"PlusSix", 6, 1.0, 0.0, FlagGranularity::byte, false, {}},
        DriveCase{"MinusElevenSixtyFourPartlyHonest",
                  -1164,
                  0.9,
                  0.001,
                  FlagGranularity::byte,
                  false,
                  {}},
        DriveCase{
            "PlusSixSixSevenSampleFlagsLate", 667, 1.0, 0.0, FlagGranularity::sample, true, {}},
        DriveCase{"WholeSamples", 0, 0.8, 0.002, FlagGranularity::sample, false, {}},
        DriveCase{"OneSectorLate", 6, 1.0, 0.0, FlagGranularity::byte, true, {}},
        DriveCase{"Unreadable", 6, 1.0, 0.0, FlagGranularity::byte, false, {500, 1000, 1001}},
        DriveCase{"UnreadableAndLate", -1164, 0.95, 0.0, FlagGranularity::sample, true, {700}}),
    [](const testing::TestParamInfo<DriveCase>& info) { return std::string(info.param.name); });

}  // namespace
