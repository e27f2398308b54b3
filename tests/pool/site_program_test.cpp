// `c2pool site` end to end: submissions with known counts added by the built program, the
// site's figures against sums worked out from the submissions themselves, and what a removal
// or a bad folder does to the site.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "pool/pages.h"
#include "tests/pool/pool_files.h"

namespace {

namespace fs = std::filesystem;
using pool_testing::WriteSubmission;
using testing_support::ReadFileText;

report::Submission OfModel(const std::string& product, const std::string& revision,
                           const std::string& unit) {
    bench::ExampleDrive drive;
    drive.product = product;
    drive.revision = revision;
    drive.unit = unit;
    return bench::ExampleSubmission(drive);
}

bench::ExamplePassCounts Counts(std::uint64_t wrong, std::uint64_t detected,
                                std::uint64_t falseFlags, std::int32_t lag, double kbps) {
    bench::ExamplePassCounts counts;
    counts.wrong = wrong;
    counts.detected = detected;
    counts.literalDetected = detected / 2;
    counts.falseFlags = falseFlags;
    counts.otherByteOfWrongSample = falseFlags / 2;
    counts.lagBits = lag;
    counts.measuredKBps = kbps;
    return counts;
}

class SiteProgram : public testing::Test {
protected:
    testing_support::RunResult Run(const std::vector<std::string>& arguments) {
        return pool_testing::RunC2Pool(dir_.Path(), arguments);
    }
    testing_support::TempDir dir_;
};

TEST_F(SiteProgram, FiguresAreTheSumsOfTheDistinctPassesAndARemovalTakesItsPageAway) {
    // Three submissions of ONE at 8x; the third repeats the first's pass "a", which counts once.
    auto first = OfModel("ONE", "1.0", "unit-1");
    first.passes = {bench::ExamplePass("a", Counts(12'000, 11'000, 40, 8, 1000))};
    auto second = OfModel("ONE", "1.0", "unit-2");
    second.passes = {bench::ExamplePass("b", Counts(7'000, 6'500, 25, -8, 3000))};
    auto third = OfModel("ONE", "1.0", "unit-2");
    third.passes = {first.passes[0], bench::ExamplePass("c", Counts(1'000, 900, 5, -8, 2000))};
    auto other = OfModel("TWO", "2.0", "unit-3");
    other.passes = {bench::ExamplePass("d", Counts(500, 400, 1, 0, 1500))};
    const std::string ids[] = {
        WriteSubmission(dir_ / "1.json", first), WriteSubmission(dir_ / "2.json", second),
        WriteSubmission(dir_ / "3.json", third), WriteSubmission(dir_ / "4.json", other)};
    ASSERT_EQ(Run({"add", "pool.sqlite", "1.json", "2.json", "3.json", "4.json"}).exitCode, 0);
    const auto site = Run({"site", "pool.sqlite", "site"});
    ASSERT_EQ(site.exitCode, 0) << site.err;
    EXPECT_EQ(site.err, "");
    const std::string one = pool::ModelPageName({"EXAMPLE", "ONE"});
    const std::string two = pool::ModelPageName({"EXAMPLE", "TWO"});
    EXPECT_EQ(site.out, "Site \"site\":\n  wrote " + one + "\n  wrote " + two +
                            "\n  wrote pool.csv\n  wrote pool.json\n  wrote pool.sqlite\n"
                            "  wrote index.html\n6 files written, 0 unchanged.\n");

    const auto json = nlohmann::json::parse(ReadFileText(dir_ / "site" / "pool.json"));
    ASSERT_EQ(json["rows"].size(), 2u);
    const auto& row = json["rows"][0];
    std::uint64_t wrong = 0, detected = 0, falseFlags = 0, compared = 0, literal = 0;
    for (const auto* pass : {&first.passes[0], &second.passes[0], &third.passes[1]}) {
        wrong += pass->figures.best.wrong;
        detected += pass->figures.best.detected;
        falseFlags += pass->figures.best.falseFlags;
        compared += pass->figures.bytesCompared;
        literal += pass->figures.asDelivered.detected;
    }
    EXPECT_EQ(row["product"], "ONE");
    EXPECT_EQ(row["rank"], 1);
    EXPECT_EQ(row["sums"]["wrong"], wrong);
    EXPECT_EQ(row["sums"]["detected"], detected);
    EXPECT_EQ(row["sums"]["flagged"], detected + falseFlags);
    EXPECT_EQ(row["sums"]["bytesCompared"], compared);
    EXPECT_EQ(row["detection"]["rate"].get<double>(), double(detected) / double(wrong));
    EXPECT_EQ(row["falseFlag"]["rate"].get<double>(),
              double(falseFlags) / double(detected + falseFlags));
    EXPECT_EQ(row["falseFlagsPerMillion"].get<double>(),
              1e6 * double(falseFlags) / double(compared - wrong));
    EXPECT_EQ(row["asDelivered"]["detection"].get<double>(), double(literal) / double(wrong));
    EXPECT_EQ(row["granularity"]["otherByteOfWrongSample"], 20 + 12 + 2);
    EXPECT_EQ(row["lag"]["shiftPointerBits"], -8);
    EXPECT_EQ(row["lag"]["passes"], 2);
    EXPECT_EQ(row["passes"], 3);
    EXPECT_EQ(row["submissions"], 3);
    EXPECT_EQ(row["units"], 2);
    EXPECT_EQ(row["medianKBps"], 2000.0);
    EXPECT_EQ(json["rows"][1]["judged"], false);  // TWO: 500 wrong bytes

    // The model's page lists each submission and the repeated pass as counted with the first.
    const std::string page = ReadFileText(dir_ / "site" / one);
    for (int i = 0; i < 3; ++i) {
        EXPECT_NE(page.find("<strong>" + ids[i] + "</strong>"), std::string::npos) << ids[i];
    }
    EXPECT_NE(page.find("counted with " + ids[0]), std::string::npos);
    // The copy of the pool is a pool.
    EXPECT_EQ(pool_testing::Contents(dir_ / "site" / "pool.sqlite", 1).ids.size(), 4u);

    ASSERT_EQ(Run({"remove", "pool.sqlite", ids[3], "--reason", "a copied disc"}).exitCode, 0);
    const auto after = Run({"site", "pool.sqlite", "site"});
    EXPECT_EQ(after.out,
              "Site \"site\":\n  wrote pool.csv\n  wrote pool.json\n  wrote "
              "pool.sqlite\n  wrote index.html\n  removed " +
                  two + "\n4 files written, 1 unchanged, 1 removed.\n");
    EXPECT_FALSE(fs::exists(dir_ / "site" / two));
    EXPECT_EQ(ReadFileText(dir_ / "site" / "index.html").find("TWO"), std::string::npos);
}

TEST_F(SiteProgram, AFolderThatCannotBeMadeIsAnErrorAndNothingIsWritten) {
    auto submission = OfModel("ONE", "1.0", "u");
    submission.passes = {bench::ExamplePass("a", Counts(12'000, 11'000, 40, 8, 1000))};
    (void)WriteSubmission(dir_ / "1.json", submission);
    ASSERT_EQ(Run({"add", "pool.sqlite", "1.json"}).exitCode, 0);
    testing_support::WriteFileBytes(dir_ / "file", {'x'});
    const auto run = Run({"site", "pool.sqlite", "file/site"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind("Cannot make the site folder \"file/site\": ", 0), 0u) << run.err;
}

}  // namespace
