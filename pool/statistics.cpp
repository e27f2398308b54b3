#include "pool/statistics.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <tuple>

namespace pool {
namespace {

template <typename T>
void SortUnique(std::vector<T>& values) {
    std::sort(values.begin(), values.end());
    values.erase(std::unique(values.begin(), values.end()), values.end());
}

std::optional<double> Median(std::vector<double>& values) {
    if (values.empty()) {
        return std::nullopt;
    }
    const std::size_t middle = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle),
                     values.end());
    const double upper = values[middle];
    if (values.size() % 2 == 1) {
        return upper;
    }
    const double lower =
        *std::max_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle));
    return (lower + upper) / 2;
}

std::optional<double> Ratio(std::uint64_t part, std::uint64_t whole) {
    if (whole == 0) {
        return std::nullopt;
    }
    return static_cast<double>(part) / static_cast<double>(whole);
}

void AddGranularity(report::SubmissionGranularity& sum, const report::SubmissionGranularity& g) {
    sum.otherByteOfWrongSample += g.otherByteOfWrongSample;
    sum.elsewhereInSectorWithErrors += g.elsewhereInSectorWithErrors;
    sum.inSectorWithoutErrors += g.inSectorWithoutErrors;
    sum.wholeSectorsFlagged += g.wholeSectorsFlagged;
}

// The most common shift, ties to the preferred one.
std::pair<std::int32_t, std::int64_t> MostCommonShift(
    const std::map<std::int32_t, std::int64_t>& shifts) {
    std::pair<std::int32_t, std::int64_t> most{0, 0};
    for (const auto& [shift, count] : shifts) {
        if (count > most.second || (count == most.second && PreferredShift(shift, most.first))) {
            most = {shift, count};
        }
    }
    return most;
}

// The false-flag upper bound ranking uses: nothing flagged is nothing false.
double FalseFlagHigh(const RowFigures& row) {
    return row.falseFlag.interval ? row.falseFlag.interval->high : 0.0;
}

double DetectionLow(const RowFigures& row) {
    return row.detection.interval ? row.detection.interval->low : 0.0;
}

// "12x" -> 12; nothing for any other text.
std::optional<double> SpeedFactor(std::string_view speed) {
    if (speed.size() < 2 || speed.back() != 'x') {
        return std::nullopt;
    }
    double factor = 0;
    const char* end = speed.data() + speed.size() - 1;
    const auto [stop, failure] = std::from_chars(speed.data(), end, factor);
    if (failure != std::errc() || stop != end) {
        return std::nullopt;
    }
    return factor;
}

int SpeedClass(std::string_view speed) {
    if (SpeedFactor(speed)) {
        return 0;
    }
    return speed == "max" ? 1 : speed == "default" ? 2 : 3;
}

}  // namespace

Proportion WilsonProportion(std::uint64_t successes, std::uint64_t trials) {
    if (trials == 0) {
        return {};
    }
    const double n = static_cast<double>(trials);
    const double p = static_cast<double>(successes) / n;
    const double z2 = kWilsonZ * kWilsonZ;
    const double denominator = 1 + z2 / n;
    const double centre = (p + z2 / (2 * n)) / denominator;
    const double half = kWilsonZ * std::sqrt(p * (1 - p) / n + z2 / (4 * n * n)) / denominator;
    return {p, Interval{std::max(0.0, centre - half), std::min(1.0, centre + half)}};
}

bool PreferredShift(std::int32_t a, std::int32_t b) {
    const auto magnitude = [](std::int32_t v) { return std::llabs(static_cast<long long>(v)); };
    return std::pair(magnitude(a), a) < std::pair(magnitude(b), b);
}

void StatisticsBuilder::Add(const CountedPass& pass) {
    Sums& sums =
        rows_[RowKey{pass.model.vendor, pass.model.product, pass.revision, pass.form, pass.speed}];
    const report::SubmissionFigures& f = pass.figures;
    sums.wrong += f.best.wrong;
    sums.flagged += f.best.flagged;
    sums.detected += f.best.detected;
    sums.falseFlags += f.best.falseFlags;
    sums.bytesCompared += f.bytesCompared;
    sums.literalWrong += f.asDelivered.wrong;
    sums.literalDetected += f.asDelivered.detected;
    AddGranularity(sums.granularity, f.granularity);
    ++sums.passes;
    ++sums.shifts[f.best.shiftPointerBits];
    // Passes come submission by submission: most repeats are the one just seen.
    if (sums.submissions.empty() || sums.submissions.back() != pass.submission) {
        sums.submissions.push_back(pass.submission);
    }
    if (pass.unit) {
        const auto [unit, added] =
            units_.try_emplace(*pass.unit, static_cast<std::int32_t>(units_.size()));
        if (sums.units.empty() || sums.units.back() != unit->second) {
            sums.units.push_back(unit->second);
        }
    }
    if (pass.measuredKBps) {
        sums.speeds.push_back(*pass.measuredKBps);
    }
}

std::vector<RowFigures> StatisticsBuilder::Finish() {
    std::vector<RowFigures> figures;
    figures.reserve(rows_.size());
    for (auto& [key, s] : rows_) {
        RowFigures row;
        row.key = key;
        row.wrong = s.wrong;
        row.flagged = s.flagged;
        row.detected = s.detected;
        row.falseFlags = s.falseFlags;
        row.bytesCompared = s.bytesCompared;
        row.detection = WilsonProportion(s.detected, s.wrong);
        row.falseFlag = WilsonProportion(s.falseFlags, s.flagged);
        if (s.bytesCompared > s.wrong) {
            row.falseFlagsPerMillion = 1e6 * static_cast<double>(s.falseFlags) /
                                       static_cast<double>(s.bytesCompared - s.wrong);
        }
        std::tie(row.lag, row.lagPasses) = MostCommonShift(s.shifts);
        row.literalWrong = s.literalWrong;
        row.literalDetected = s.literalDetected;
        row.literalDetection = Ratio(s.literalDetected, s.literalWrong);
        row.granularity = s.granularity;
        row.passes = s.passes;
        SortUnique(s.submissions);
        SortUnique(s.units);
        row.submissions = static_cast<std::int64_t>(s.submissions.size());
        row.units = static_cast<std::int64_t>(s.units.size());
        row.medianKBps = Median(s.speeds);
        row.judged = s.wrong >= kMinWrongToJudge;
        figures.push_back(std::move(row));
    }
    rows_.clear();
    units_.clear();
    return figures;
}

bool RanksBefore(const RowFigures& a, const RowFigures& b) {
    if (a.judged != b.judged) {
        return a.judged;
    }
    if (a.judged) {
        if (DetectionLow(a) != DetectionLow(b)) {
            return DetectionLow(a) > DetectionLow(b);
        }
        if (FalseFlagHigh(a) != FalseFlagHigh(b)) {
            return FalseFlagHigh(a) < FalseFlagHigh(b);
        }
    }
    return a.key < b.key;
}

PoolFigures RankRows(std::vector<RowFigures> rows) {
    PoolFigures figures;
    std::sort(rows.begin(), rows.end(), RanksBefore);
    std::int64_t rank = 0;
    for (RowFigures& row : rows) {
        row.rank = row.judged ? std::optional(++rank) : std::nullopt;
    }
    // Each model's first row in ranking order is its best, when judged; otherwise its most
    // damaged row.
    std::map<DriveModel, std::size_t> best;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const DriveModel model{rows[i].key.vendor, rows[i].key.product};
        const auto [found, added] = best.try_emplace(model, i);
        const RowFigures& shown = rows[found->second];
        if (!added && !shown.judged &&
            (rows[i].wrong > shown.wrong ||
             (rows[i].wrong == shown.wrong && rows[i].key < shown.key))) {
            found->second = i;
        }
    }
    for (const auto& [model, row] : best) {
        figures.models.push_back({model, std::nullopt, row});
    }
    std::stable_sort(figures.models.begin(), figures.models.end(),
                     [&](const ModelPlace& a, const ModelPlace& b) {
                         const bool aRanked = rows[a.bestRow].judged;
                         const bool bRanked = rows[b.bestRow].judged;
                         if (aRanked != bRanked) {
                             return aRanked;
                         }
                         return aRanked && a.bestRow < b.bestRow;
                     });
    std::int64_t place = 0;
    for (ModelPlace& model : figures.models) {
        if (rows[model.bestRow].judged) {
            model.place = ++place;
        }
    }
    figures.rows = std::move(rows);
    return figures;
}

PoolFigures ComputeFigures(PoolReader& pool) {
    StatisticsBuilder builder;
    pool.ForEachCountedPass([&](const CountedPass& pass) { builder.Add(pass); });
    return RankRows(builder.Finish());
}

bool SpeedBefore(std::string_view a, std::string_view b) {
    const int aClass = SpeedClass(a), bClass = SpeedClass(b);
    if (aClass != bClass) {
        return aClass < bClass;
    }
    if (aClass == 0 && *SpeedFactor(a) != *SpeedFactor(b)) {
        return *SpeedFactor(a) < *SpeedFactor(b);
    }
    return a < b;
}

}  // namespace pool
