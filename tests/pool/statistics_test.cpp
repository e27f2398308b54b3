// The pooled figures from passes whose sums are known: every figure exact, the intervals
// against the closed form worked out apart (in long double) and against published values, and
// the ranking of rows and models with its ties.
#include <gtest/gtest.h>

#include <cmath>

#include "pool/statistics.h"
#include "tests/pool/memory_pool.h"

namespace {

using pool::DriveModel;
using pool_test::Pass;

// The Wilson score bounds in the textbook form, (2np + z^2 -+ z sqrt(z^2 + 4np(1-p))) /
// (2(n + z^2)).
std::pair<long double, long double> ClosedForm(long double successes, long double trials) {
    const long double z = 1.959963984540054L, p = successes / trials;
    const long double root = z * std::sqrt(z * z + 4 * trials * p * (1 - p));
    const long double centre = 2 * trials * p + z * z, scale = 2 * (trials + z * z);
    return {(centre - root) / scale, (centre + root) / scale};
}

TEST(Wilson, MatchesTheClosedFormAndPublishedIntervals) {
    const std::pair<std::uint64_t, std::uint64_t> cases[] = {{0, 1},
                                                             {1, 1},
                                                             {0, 20},
                                                             {1, 29},
                                                             {81, 263},
                                                             {15, 148},
                                                             {9'999, 10'000},
                                                             {123'456, 1'000'000},
                                                             {1, 4'000'000'000},
                                                             {3'999'999'999, 4'000'000'000}};
    for (const auto& [s, n] : cases) {
        const auto p = pool::WilsonProportion(s, n);
        const auto [low, high] = ClosedForm(s, n);
        ASSERT_TRUE(p.rate && p.interval);
        EXPECT_EQ(*p.rate, double(s) / double(n));
        EXPECT_NEAR(p.interval->low, std::max(0.0L, low), 1e-9) << s << "/" << n;
        EXPECT_NEAR(p.interval->high, std::min(1.0L, high), 1e-9) << s << "/" << n;
    }
    // Newcombe's examples of the score interval (four decimals).
    const struct {
        std::uint64_t s, n;
        double low, high;
    } published[] = {{81, 263, 0.2553, 0.3662},
                     {15, 148, 0.0624, 0.1605},
                     {0, 20, 0.0, 0.1611},
                     {1, 29, 0.0061, 0.1718}};
    for (const auto& c : published) {
        const auto p = pool::WilsonProportion(c.s, c.n);
        EXPECT_NEAR(p.interval->low, c.low, 5e-5) << c.s << "/" << c.n;
        EXPECT_NEAR(p.interval->high, c.high, 5e-5) << c.s << "/" << c.n;
    }
    const auto none = pool::WilsonProportion(0, 0);
    EXPECT_FALSE(none.rate);
    EXPECT_FALSE(none.interval);
}

pool::CountedPass With(pool::CountedPass pass, std::int32_t shift, std::optional<std::string> unit,
                       std::optional<double> kbps, std::uint64_t literalDetected) {
    pass.figures.best.shiftPointerBits = shift;
    pass.unit = std::move(unit);
    pass.measuredKBps = kbps;
    pass.figures.asDelivered.detected = literalDetected;
    pass.figures.asDelivered.flagged = literalDetected;
    pass.figures.granularity = {1, 2, 3, 4};
    return pass;
}

const DriveModel kModel{"VENDOR", "DRIVE"};

TEST(RowFigures, AreTheSumsOfTheRowsPasses) {
    pool::StatisticsBuilder builder;
    builder.Add(With(Pass(1, kModel, "1.00", "readcd14", "8x", 6000, 5000, 30, 2'000'000), 8, "u1",
                     1000, 4000));
    builder.Add(With(Pass(1, kModel, "1.00", "readcd14", "8x", 4000, 3900, 10, 3'000'000), -8, "u1",
                     3000, 100));
    builder.Add(With(Pass(2, kModel, "1.00", "d8", "default", 7, 7, 0, 1000), 0, "u1", 2, 7));
    builder.Add(With(Pass(2, kModel, "1.00", "readcd14", "8x", 500, 0, 0, 1'000'000), -8,
                     std::nullopt, std::nullopt, 0));
    builder.Add(
        With(Pass(3, kModel, "1.00", "readcd14", "8x", 0, 0, 60, 4'000'000), 16, "u2", 2000, 0));
    const auto rows = builder.Finish();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].key.form, "d8");
    const pool::RowFigures& r = rows[1];
    EXPECT_EQ(r.key, (pool::RowKey{"VENDOR", "DRIVE", "1.00", "readcd14", "8x"}));
    EXPECT_EQ(r.wrong, 10'500u);
    EXPECT_EQ(r.detected, 8'900u);
    EXPECT_EQ(r.falseFlags, 100u);
    EXPECT_EQ(r.flagged, 9'000u);
    EXPECT_EQ(r.bytesCompared, 10'000'000u);
    EXPECT_EQ(*r.detection.rate, 8900.0 / 10500.0);
    EXPECT_EQ(*r.falseFlag.rate, 100.0 / 9000.0);
    EXPECT_EQ(*r.falseFlagsPerMillion, 1e6 * 100.0 / (10'000'000.0 - 10'500.0));
    EXPECT_EQ(r.lag, -8);
    EXPECT_EQ(r.lagPasses, 2);
    EXPECT_EQ(r.literalWrong, 10'500u);
    EXPECT_EQ(r.literalDetected, 4'100u);
    EXPECT_EQ(*r.literalDetection, 4100.0 / 10500.0);
    EXPECT_EQ(r.granularity, (report::SubmissionGranularity{4, 8, 12, 16}));
    EXPECT_EQ(r.passes, 4);
    EXPECT_EQ(r.submissions, 3);
    EXPECT_EQ(r.units, 2);  // u1 twice, u2; the pass without a unit counts none
    EXPECT_EQ(*r.medianKBps, 2000.0);
    EXPECT_TRUE(r.judged);
    // The other row: too little damage, every rate still defined.
    EXPECT_FALSE(rows[0].judged);
    EXPECT_EQ(*rows[0].detection.rate, 1.0);
    EXPECT_EQ(rows[0].units, 1);
}

TEST(RowFigures, UndefinedRatesAreNoneAndTheMedianOfAnEvenCountIsTheMiddleMean) {
    pool::StatisticsBuilder builder;
    // Nothing wrong, nothing flagged, every compared byte wrong: no rate is defined.
    builder.Add(Pass(1, kModel, "1", "d8", "4x", 0, 0, 0, 0));
    for (double kbps : {10.0, 1.5, 4.0, 2.25}) {
        auto pass = Pass(2, kModel, "2", "d8", "4x", 5, 5, 0, 5);
        pass.measuredKBps = kbps;
        builder.Add(pass);
    }
    const auto rows = builder.Finish();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_FALSE(rows[0].detection.rate);
    EXPECT_FALSE(rows[0].falseFlag.interval);
    EXPECT_FALSE(rows[0].falseFlagsPerMillion);
    EXPECT_FALSE(rows[0].literalDetection);
    EXPECT_FALSE(rows[0].medianKBps);
    EXPECT_FALSE(rows[1].falseFlagsPerMillion);  // no right byte
    EXPECT_EQ(*rows[1].medianKBps, (2.25 + 4.0) / 2);
    EXPECT_EQ(rows[1].submissions, 1);
    EXPECT_EQ(rows[1].units, 0);
}

TEST(RowFigures, TheLagTieGoesToTheSmallerMagnitudeThenTheLowerShift) {
    EXPECT_TRUE(pool::PreferredShift(-8, 8));
    EXPECT_TRUE(pool::PreferredShift(8, -16));
    EXPECT_TRUE(pool::PreferredShift(0, -1));
    EXPECT_FALSE(pool::PreferredShift(16, 16));
    pool::StatisticsBuilder builder;
    for (std::int32_t shift : {16, 8, 16, -8, 8, -8, -24, -24}) {
        auto pass = Pass(1, kModel, "1", "d8", "4x", 10, 10, 0);
        pass.figures.best.shiftPointerBits = shift;
        builder.Add(pass);
    }
    const auto rows = builder.Finish();
    EXPECT_EQ(rows[0].lag, -8);
    EXPECT_EQ(rows[0].lagPasses, 2);
}

TEST(Ranking, ByDetectionLowThenFalseFlagHighThenKeyAndModelsByTheirBestRow) {
    pool::StatisticsBuilder builder;
    const DriveModel acme{"ACME", "ONE"}, aaa{"AAA", "ZERO"}, beta{"BETA", "TWO"},
        zed{"ZED", "NINE"}, yak{"YAK", "SIX"}, delta{"DELTA", "FEW"}, chi{"CHI", "FEWER"};
    builder.Add(Pass(1, acme, "1.0", "readcd14", "8x", 20'000, 19'000, 10));    // A
    builder.Add(Pass(1, acme, "1.0", "readcd14", "max", 20'000, 19'000, 500));  // B
    builder.Add(Pass(1, acme, "1.0", "d8", "4x", 9'999, 9'999, 0));          // perfect, too little
    builder.Add(Pass(2, aaa, "2.0", "readcd14", "8x", 20'000, 19'000, 10));  // ties with A
    builder.Add(Pass(3, beta, "1.0", "readcd14", "8x", 20'000, 10'000, 0));
    builder.Add(Pass(4, zed, "1.0", "d8", "8x", 20'000, 0, 0));    // nothing flagged
    builder.Add(Pass(5, yak, "1.0", "d8", "8x", 20'000, 0, 100));  // only false flags
    builder.Add(Pass(6, delta, "1.0", "d8", "8x", 5'000, 5'000, 0));
    builder.Add(Pass(6, delta, "1.0", "d8", "max", 8'000, 0, 0));
    builder.Add(Pass(7, chi, "1.0", "d8", "8x", 100, 50, 0));
    const pool::PoolFigures figures = pool::RankRows(builder.Finish());

    std::vector<std::string> order;
    for (const auto& r : figures.rows) {
        order.push_back(r.key.vendor + " " + r.key.form + " " + r.key.speed + " " +
                        (r.rank ? std::to_string(*r.rank) : "-"));
    }
    EXPECT_EQ(order, (std::vector<std::string>{"AAA readcd14 8x 1", "ACME readcd14 8x 2",
                                               "ACME readcd14 max 3", "BETA readcd14 8x 4",
                                               "ZED d8 8x 5", "YAK d8 8x 6", "ACME d8 4x -",
                                               "CHI d8 8x -", "DELTA d8 8x -", "DELTA d8 max -"}));

    std::vector<std::string> models;
    for (const auto& m : figures.models) {
        const auto& best = figures.rows[m.bestRow];
        models.push_back(m.model.vendor + " " + (m.place ? std::to_string(*m.place) : "-") + " " +
                         best.key.form + " " + best.key.speed);
    }
    EXPECT_EQ(models,
              (std::vector<std::string>{"AAA 1 readcd14 8x", "ACME 2 readcd14 8x",
                                        "BETA 3 readcd14 8x", "ZED 4 d8 8x", "YAK 5 d8 8x",
                                        "CHI - d8 8x", "DELTA - d8 max"}));  // its most damaged row
}

TEST(Ranking, SpeedsByFactorThenMaxThenDefault) {
    std::vector<std::string> speeds{"default", "max", "10x", "4x", "2.5x", "fast", "x"};
    std::sort(speeds.begin(), speeds.end(),
              [](const auto& a, const auto& b) { return pool::SpeedBefore(a, b); });
    EXPECT_EQ(speeds,
              (std::vector<std::string>{"2.5x", "4x", "10x", "max", "default", "fast", "x"}));
}

}  // namespace
