// Flag granularity through the built c2report, for drives made by hand from the reference's
// bytes: one that flags exact bytes, one whole samples, one whole sectors. The same 50 single
// wrong bytes (the other byte of each sample right) in 10 sectors; the truth is counted here.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "report/output/text.h"
#include "simdrive/audio_source.h"
#include "tests/report/synthetic_pass.h"
#include "tests/support/program_run.h"
#include "tests/support/temp_dir.h"

namespace {

using report_test::SyntheticPass;

constexpr std::int64_t kSectors = 1000;
constexpr std::int64_t kDamaged = 10, kWrongPerSector = 5;

SyntheticPass SingleWrongBytes() {
    SyntheticPass pass;
    for (std::int64_t s = 300; s < 300 + kDamaged; ++s) {
        for (std::int32_t k = 0; k < kWrongPerSector; ++k) {
            pass.wrong.emplace_back(s, 101 + 200 * k);
        }
    }
    return pass;
}

struct Granularity {
    std::uint64_t falseFlags, onWrongSample, inSectorsWithErrors, inSectorsWithoutErrors,
        sectorsFlaggedWhole;
};

class FlagGranularity : public testing::Test {
protected:
    void SetUp() override {
        simdrive::PatternSource source(kSectors, 3);
        std::string error;
        ASSERT_TRUE(simdrive::WriteWavFile((dir_ / "Reference.wav").string(), source, error));
    }
    void Expect(const std::string& drive, const SyntheticPass& pass, const Granularity& truth) {
        report_test::WriteSyntheticPass(dir_ / "Reference.wav", dir_ / (drive + ".wav"),
                                        dir_ / (drive + ".c2"), pass);
        testing_support::RunOptions options;
        options.workingDirectory = dir_.Path();
        const auto run =
            testing_support::RunProgram(testing_support::BuiltProgram("c2report"),
                                        {"Reference.wav", drive + ".wav", drive + ".c2"}, options);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const auto g = nlohmann::json::parse(
            testing_support::ReadFileText(dir_ / (drive + ".report.json")))["flagGranularity"];
        EXPECT_EQ(g["alignment"], "as delivered");
        EXPECT_EQ(g["falseFlags"], truth.falseFlags);
        EXPECT_EQ(g["onWrongSample"], truth.onWrongSample);
        EXPECT_EQ(g["inSectorsWithErrors"], truth.inSectorsWithErrors);
        EXPECT_EQ(g["inSectorsWithoutErrors"], truth.inSectorsWithoutErrors);
        EXPECT_EQ(g["sectorsFlaggedWhole"], truth.sectorsFlaggedWhole);
        std::ostringstream lines;
        lines << "Flag granularity (as delivered):\n"
              << "  false flags                       " << report::Grouped(truth.falseFlags)
              << '\n';
        EXPECT_NE(run.out.find(lines.str()), std::string::npos) << run.out;
    }
    testing_support::TempDir dir_;
};

TEST_F(FlagGranularity, ExactBytesWholeSamplesAndWholeSectorsAreToldApart) {
    SyntheticPass exact = SingleWrongBytes();
    exact.flagged = exact.wrong;
    Expect("Exact", exact, {0, 0, 0, 0, 0});

    SyntheticPass samples = SingleWrongBytes();
    for (const auto& [sector, byte] : samples.wrong) {
        samples.flagged.emplace_back(sector, byte);
        samples.flagged.emplace_back(sector, byte ^ 1);
    }
    const std::uint64_t wrong = kDamaged * kWrongPerSector;
    Expect("Samples", samples, {wrong, wrong, 0, 0, 0});

    // Whole sectors: the damaged ones and two clean ones.
    SyntheticPass sectors = SingleWrongBytes();
    for (std::int64_t s = 300; s < 300 + kDamaged; ++s) {
        report_test::FlagWholeSector(sectors, s);
    }
    report_test::FlagWholeSector(sectors, 500);
    report_test::FlagWholeSector(sectors, 501);
    const std::uint64_t inDamaged = kDamaged * 2352 - wrong;
    Expect("Sectors", sectors, {inDamaged + 2 * 2352, wrong, inDamaged - wrong, 2 * 2352, 12});
}

}  // namespace
