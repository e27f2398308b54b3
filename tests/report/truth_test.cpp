// The report's counts against the simulated drive's truth: drives with known damage, known
// read offsets and known C2 honesty, read the way the extraction program reads them.
#include <gtest/gtest.h>

#include <sstream>

#include "report/c2report.h"
#include "report/comparison/alignment.h"
#include "report/output/summary.h"
#include "runtime/sha256.h"
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
    const report::FlagGranularity& g = pass.granularity;
    EXPECT_EQ(g.falseFlags, truth.granularity.falseFlags);
    EXPECT_EQ(g.onWrongSample, truth.granularity.onWrongSample);
    EXPECT_EQ(g.inSectorWithErrors, truth.granularity.inSectorWithErrors);
    EXPECT_EQ(g.inSectorWithoutErrors, truth.granularity.inSectorWithoutErrors);
    EXPECT_EQ(g.sectorsFlaggedWhole, truth.granularity.sectorsFlaggedWhole);
    ASSERT_EQ(pass.sectors.size(), truth.sectors.size());
    for (std::size_t s = 0; s < truth.sectors.size(); ++s) {
        const auto& got = pass.sectors[s];
        const auto& want = truth.sectors[s];
        ASSERT_TRUE(got.wrongBytes == want.wrongBytes && got.flaggedBytes == want.flaggedBytes &&
                    got.detectedBytes == want.detectedBytes &&
                    got.wrongSamples == want.wrongSamples &&
                    got.flaggedSamples == want.flaggedSamples &&
                    got.detectedSamples == want.detectedSamples &&
                    got.falseOnWrongSample == want.falseOnWrongSample &&
                    got.flaggedWhole == want.flaggedWhole && got.zeroFilled == want.zeroFilled)
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
        EXPECT_EQ(verdict.best.shift, (report::C2Shift{2352}));
        ASSERT_TRUE(verdict.moved.has_value());
        ExpectCounts(*verdict.moved, extraction.Truth(1));
    } else {
        EXPECT_EQ(verdict.best.shift, report::C2Shift{});
        EXPECT_FALSE(verdict.moved.has_value());
    }
    if (!c.unreadable.empty()) {
        EXPECT_GT(verdict.literal.zeroFilledSectors, 0);
    }
    // A drive that flags exact bytes and never a right one leaves no false flag anywhere.
    if (c.granularity == simdrive::FlagGranularity::byte && c.flagGood == 0.0) {
        EXPECT_EQ(verdict.Best().granularity.falseFlags, 0u);
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

// A real disc read back: lengths that differ from the image's, and pointers that lag by bytes.
class ReadBack : public testing::Test {
protected:
    report::Verdict Compare(SimulatedExtraction& extraction) {
        extraction.Write(dir_.Path());
        return CompareWritten();
    }
    report::Verdict CompareWritten() {
        report::Verdict verdict;
        std::ostringstream out, err;
        const int code =
            report::BuildVerdict({(dir_ / "Reference.wav").string(), (dir_ / "Drive.wav").string(),
                                  (dir_ / "Drive.c2").string()},
                                 verdict, out, err);
        EXPECT_EQ(code, report::kExitOk) << err.str();
        return verdict;
    }
    // The drive's pointers delivered `bytes` pointer bytes late over the whole file.
    void DelayPointers(std::int64_t bytes) {
        auto c2 = testing_support::ReadFileBytes(dir_ / "Drive.c2");
        c2.insert(c2.begin(), static_cast<std::size_t>(bytes), 0);
        c2.resize(c2.size() - static_cast<std::size_t>(bytes));
        testing_support::WriteFileBytes(dir_ / "Drive.c2", c2);
    }
    testing_support::TempDir dir_;
};

simdrive::DriveSettings PartlyHonest(std::int32_t offset) {
    simdrive::DriveSettings settings;
    settings.readOffsetSamples = offset;
    settings.honesty = {0.92, 0.003, simdrive::FlagGranularity::byte, false};
    return settings;
}

simdrive::DiscSpec Scratched() {
    simdrive::DiscSpec spec;
    spec.damage.seed = 77;
    spec.damage.scratches = {{200, 30, 0.03, 16}, {700, 4, 0.2, 4}, {1100, 1, 0.05, 8}};
    return spec;
}

TEST_F(ReadBack, RunOutZerosPastTheEndAreExtraNotCompared) {
    SimulatedExtraction extraction(PartlyHonest(6), Scratched(), kSectors, 11, {kSectors, 2});
    const report::Verdict verdict = Compare(extraction);
    const report::Coverage& c = verdict.coverage;
    EXPECT_EQ(c.referenceSectors, kSectors);
    EXPECT_EQ(c.extractionSectors, kSectors + 2);
    EXPECT_EQ(c.Compared(), kSectors);
    EXPECT_EQ(c.ExtraBefore(), 0);
    EXPECT_EQ(c.ExtraAfter(), 2);
    EXPECT_TRUE(c.extraAfterAllZero);
    EXPECT_EQ(c.Missing(), 0);
    ExpectCounts(verdict.literal, extraction.Truth(0));
    // The hash taken from the comparison's reads is the whole file's.
    const auto file = testing_support::ReadFileBytes(dir_ / "Reference.wav");
    runtime::Sha256 whole;
    whole.Update(std::span(reinterpret_cast<const std::uint8_t*>(file.data()), file.size()));
    EXPECT_EQ(verdict.referenceSha256, whole.FinalHex());
    EXPECT_FALSE(verdict.genuineReference);
}

TEST(Sha256, KnownDigests) {
    runtime::Sha256 abc;
    const std::string text = "abc";
    abc.Update(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    EXPECT_EQ(abc.FinalHex(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    runtime::Sha256 empty;
    EXPECT_EQ(empty.FinalHex(), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST_F(ReadBack, ASectorShortIsMissingAtTheEnd) {
    SimulatedExtraction extraction(PartlyHonest(-30), Scratched(), kSectors - 1, 11, {kSectors, 0});
    const report::Verdict verdict = Compare(extraction);
    const report::Coverage& c = verdict.coverage;
    EXPECT_EQ(c.Compared(), kSectors - 1);
    EXPECT_EQ(c.ExtraBefore() + c.ExtraAfter(), 0);
    EXPECT_EQ(c.missingAtStart, 0);
    EXPECT_EQ(c.missingAtEnd, 1);
    ExpectCounts(verdict.literal, extraction.Truth(0));
}

TEST_F(ReadBack, AnOffsetThatPushesTheLastSectorPastTheEnd) {
    SimulatedExtraction extraction(PartlyHonest(667), Scratched(), kSectors);
    const report::Verdict verdict = Compare(extraction);
    const report::Coverage& c = verdict.coverage;
    EXPECT_EQ(verdict.alignment.offsetFrames, 667);
    EXPECT_EQ(c.firstCompared, 0);
    EXPECT_EQ(c.endCompared, kSectors - 1);
    EXPECT_EQ(c.ExtraAfter(), 1);
    EXPECT_TRUE(c.extraAfterAllZero);
    EXPECT_EQ(c.missingAtStart, 1);
    EXPECT_EQ(c.missingAtEnd, 0);
    EXPECT_EQ(c.samplesOutsideReference, 667 - 588);
    ExpectCounts(verdict.literal, extraction.Truth(0));
}

// Pointers that lag by a sector and a byte, or by 40 bytes: the best alignment is found to the
// byte and its counts are the drive's own flags against its own errors.
TEST_F(ReadBack, PointersLateByBytesAreFoundToTheByte) {
    for (const std::int64_t lag : {295, 40, 882}) {
        SCOPED_TRACE(lag);
        SimulatedExtraction extraction(PartlyHonest(6), Scratched(), kSectors);
        extraction.Write(dir_.Path());
        DelayPointers(lag);
        const report::Verdict verdict = CompareWritten();
        EXPECT_EQ(verdict.best.shift, (report::C2Shift{static_cast<std::int32_t>(lag * 8)}));
        ASSERT_TRUE(verdict.moved.has_value());
        ExpectCounts(*verdict.moved, extraction.Truth(0));
        // The literal alignment stays beside it: the same wrong bytes, few detected.
        EXPECT_EQ(verdict.literal.bytes.wrong, verdict.moved->bytes.wrong);
        EXPECT_LT(verdict.literal.bytes.detected * 4, verdict.moved->bytes.detected);
    }
    EXPECT_EQ((report::C2Shift{295 * 8}).Describe(), "1 sector + 1 byte late");
}

TEST(Coverage, SectorsComparedExtraAndMissing) {
    // referenceFrames, extraction sectors, offset -> first, end compared, missing start/end.
    struct Case {
        std::int64_t referenceFrames, sectors;
        std::int32_t offset;
        std::int64_t first, end, missingAtStart, missingAtEnd, outside;
    };
    for (const Case& c : std::vector<Case>{
             {588 * 100, 100, 0, 0, 100, 0, 0, 0},
             {588 * 100, 100, 6, 0, 100, 0, 0, 6},
             {588 * 100, 102, 0, 0, 100, 0, 0, 0},
             {588 * 100, 99, 0, 0, 99, 0, 1, 0},
             {588 * 100, 100, 667, 0, 99, 1, 0, 79},
             {588 * 100, 100, -1164, 1, 100, 0, 1, 576},
             {588 * 100, 100, -588, 1, 100, 0, 1, 0},
             {588 * 100, 100, -587, 0, 100, 0, 0, 587},
             {588 * 100 + 10, 100, 0, 0, 100, 0, 1, 0},
         }) {
        const report::Coverage got =
            report::MeasureCoverage(c.referenceFrames, c.sectors, c.offset);
        EXPECT_EQ(got.firstCompared, c.first) << c.offset;
        EXPECT_EQ(got.endCompared, c.end) << c.offset;
        EXPECT_EQ(got.missingAtStart, c.missingAtStart) << c.offset;
        EXPECT_EQ(got.missingAtEnd, c.missingAtEnd) << c.offset;
        EXPECT_EQ(got.samplesOutsideReference, c.outside) << c.offset;
    }
}

}  // namespace
