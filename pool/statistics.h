// The pooled figures: per row (vendor, product, revision, form, speed), sums over the row's
// counted passes at the best alignment, rates with their 95 % Wilson score intervals, and the
// ranking of rows and models. Pure functions over passes; no store, no pages.
//
// Missed bytes per million compared depends on how damaged each user's disc was, so it is not
// comparable across discs: nothing here ranks by it.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "pool/pooled.h"

namespace pool {

// Rows with fewer wrong bytes than this are shown, marked, and not ranked: too little damage
// to judge.
inline constexpr std::uint64_t kMinWrongToJudge = 10'000;
// The two-sided 95 % quantile of the standard normal distribution.
inline constexpr double kWilsonZ = 1.959963984540054;

struct Interval {
    double low = 0;
    double high = 0;
    friend bool operator==(const Interval&, const Interval&) = default;
};

// `successes` of `trials` as a rate and its 95 % Wilson score interval; none when `trials` is 0.
struct Proportion {
    std::optional<double> rate;
    std::optional<Interval> interval;
};
[[nodiscard]] Proportion WilsonProportion(std::uint64_t successes, std::uint64_t trials);

struct RowKey {
    std::string vendor, product, revision, form, speed;
    friend auto operator<=>(const RowKey&, const RowKey&) = default;
};

struct RowFigures {
    RowKey key;
    // Sums at the best alignment.
    std::uint64_t wrong = 0, flagged = 0, detected = 0, falseFlags = 0, bytesCompared = 0;
    Proportion detection;  // detected / wrong
    Proportion falseFlag;  // falseFlags / flagged
    // falseFlags / (bytesCompared - wrong) * 10^6; none without a right byte.
    std::optional<double> falseFlagsPerMillion;
    // The most common best-alignment shift of the pointers, in bits, and in how many passes.
    std::int32_t lag = 0;
    std::int64_t lagPasses = 0;
    // The pointers as delivered: asDelivered.detected / asDelivered.wrong.
    std::uint64_t literalWrong = 0, literalDetected = 0;
    std::optional<double> literalDetection;
    report::SubmissionGranularity granularity;  // summed
    std::int64_t passes = 0, submissions = 0, units = 0;
    std::optional<double> medianKBps;  // none when no pass measured its speed
    bool judged = false;               // wrong >= kMinWrongToJudge
    std::optional<std::int64_t> rank;  // 1, 2, ... among judged rows
};

// Which of two shifts a tie of counts goes to: the smaller absolute value, then the lower.
[[nodiscard]] bool PreferredShift(std::int32_t a, std::int32_t b);

// Sums the counted passes in one sweep. Memory grows with the rows, the submissions (arrival
// numbers) and the distinct units, never with copies of the passes.
class StatisticsBuilder {
public:
    void Add(const CountedPass& pass);
    // Every row's figures, by key; the builder is left empty.
    [[nodiscard]] std::vector<RowFigures> Finish();

private:
    struct Sums {
        std::uint64_t wrong = 0, flagged = 0, detected = 0, falseFlags = 0, bytesCompared = 0;
        std::uint64_t literalWrong = 0, literalDetected = 0;
        report::SubmissionGranularity granularity;
        std::int64_t passes = 0;
        std::map<std::int32_t, std::int64_t> shifts;
        std::vector<std::int64_t> submissions;  // arrival numbers, deduplicated at the end
        std::vector<std::int32_t> units;        // numbers of units in units_
        std::vector<double> speeds;
    };
    std::map<RowKey, Sums> rows_;
    std::unordered_map<std::string, std::int32_t> units_;
};

// Ranking order of rows: judged rows by the lower bound of detection (highest first), then the
// upper bound of the false-flag interval (lowest first; a row with nothing flagged counts as
// nothing false), then by key; then the rows too little damaged to judge, by key.
[[nodiscard]] bool RanksBefore(const RowFigures& a, const RowFigures& b);

struct ModelPlace {
    DriveModel model;
    std::optional<std::int64_t> place;  // 1, 2, ...; none when no row of the model is judged
    std::size_t bestRow = 0;            // index in PoolFigures::rows
};

struct PoolFigures {
    std::vector<RowFigures> rows;    // in ranking order, `rank` set on the judged ones
    std::vector<ModelPlace> models;  // ranked models first, then the others by vendor, product
};

// Ranks `rows`. A model's place is its best row's; a model without a judged row shows the row
// with the most wrong bytes (then the first by key).
[[nodiscard]] PoolFigures RankRows(std::vector<RowFigures> rows);

// All of it, from the pool's counted passes.
[[nodiscard]] PoolFigures ComputeFigures(PoolReader& pool);

// The order speeds are shown in: "4x" before "10x" (by number), then "max", then "default",
// then anything else by text.
[[nodiscard]] bool SpeedBefore(std::string_view a, std::string_view b);

}  // namespace pool
