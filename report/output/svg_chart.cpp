#include "report/output/svg_chart.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "report/comparison/cd_format.h"
#include "report/output/text.h"

namespace report {
namespace {

constexpr double kLeft = 80, kTop = 90, kPlotWidth = 1100, kHalfHeight = 150;
constexpr double kWidth = kLeft + kPlotWidth + 30;
constexpr double kAxisY = kTop + kHalfHeight;
constexpr double kHeight = kAxisY + kHalfHeight + 70;
constexpr int kBuckets = 550;
constexpr std::int64_t kAtLeastMinutes = 74;
const char* const kDetectedColour = "#2e9e44";
const char* const kMissedColour = "#d62728";
const char* const kFalseColour = "#ff9f1c";
const char* const kZeroColour = "#bdbdbd";

struct Bucket {
    Tally bytes;
    std::int64_t zeroFilled = 0;
};

// Height of a bar for `count` bytes on a log scale whose top is `decades` powers of ten.
double BarHeight(std::uint64_t count, double decades) {
    return count == 0 ? 0.0
                      : std::max(2.0, kHalfHeight * (std::log10(double(count)) + 1) / decades);
}

void Rect(std::ostream& out, const char* kind, const char* colour, double x, double y, double w,
          double h, std::int64_t first, std::int64_t end, std::uint64_t bytes,
          const std::string& tip) {
    out << "<rect class=\"" << kind << "\" x=\"" << SvgNumber(x) << "\" y=\"" << SvgNumber(y)
        << "\" width=\"" << SvgNumber(w) << "\" height=\"" << SvgNumber(h) << "\" fill=\"" << colour
        << "\" data-first-sector=\"" << first << "\" data-end-sector=\"" << end
        << "\" data-bytes=\"" << bytes << "\"><title>" << XmlEscape(tip) << "</title></rect>\n";
}

void Axes(std::ostream& out, std::int64_t minutes, double decades) {
    out << "<line x1=\"" << kLeft << "\" y1=\"" << kAxisY << "\" x2=\"" << kLeft + kPlotWidth
        << "\" y2=\"" << kAxisY << "\" stroke=\"#000\"/>\n";
    for (std::int64_t m = 0; m <= minutes; m += 5) {
        const double x = kLeft + kPlotWidth * double(m) / double(minutes);
        out << "<line x1=\"" << SvgNumber(x) << "\" y1=\"" << kTop << "\" x2=\"" << SvgNumber(x)
            << "\" y2=\"" << kAxisY + kHalfHeight << "\" stroke=\"#e4e4e4\"/>\n";
        SvgText(out, x, kAxisY + kHalfHeight + 18, std::to_string(m), "middle");
    }
    SvgText(out, kLeft + kPlotWidth / 2, kAxisY + kHalfHeight + 40, "minutes into the disc",
            "middle");
    for (int d = 0; d < static_cast<int>(decades); ++d) {
        const double h = kHalfHeight * (d + 1) / decades;
        const std::string label = d == 0 ? "1" : "1e" + std::to_string(d);
        SvgText(out, kLeft - 6, kAxisY - h + 4, label, "end", 10);
        SvgText(out, kLeft - 6, kAxisY + h + 4, label, "end", 10);
    }
    // Written upwards beside the decade labels, so the two never overlap.
    SvgText(out, 24, kAxisY - kHalfHeight / 2, "wrong bytes", "middle", 11, true);
    SvgText(out, 24, kAxisY + kHalfHeight / 2, "false flags", "middle", 11, true);
}

void Legend(std::ostream& out) {
    const std::pair<const char*, const char*> entries[] = {
        {kDetectedColour, "wrong, flagged by C2 (detected)"},
        {kMissedColour, "wrong, not flagged (missed)"},
        {kFalseColour, "flagged but right (false flag)"},
        {kZeroColour, "zero-filled (not delivered)"}};
    double x = kLeft;
    for (const auto& [colour, label] : entries) {
        out << "<rect x=\"" << SvgNumber(x) << "\" y=\"58\" width=\"12\" height=\"12\" fill=\""
            << colour << "\"/>\n";
        SvgText(out, x + 18, 69, label);
        x += 270;
    }
}

}  // namespace

std::string SvgNumber(double v) {
    return Decimals(v, 1);
}

void SvgText(std::ostream& out, double x, double y, const std::string& text, const char* anchor,
             int size, bool upright) {
    out << "<text x=\"" << SvgNumber(x) << "\" y=\"" << SvgNumber(y) << "\" font-size=\"" << size
        << "\" text-anchor=\"" << anchor << "\"";
    if (upright) {
        out << " transform=\"rotate(-90 " << SvgNumber(x) << ' ' << SvgNumber(y) << ")\"";
    }
    out << ">" << XmlEscape(text) << "</text>\n";
}

void WriteChart(const Verdict& verdict, const std::string& title, std::ostream& out) {
    const std::vector<SectorCounts>& sectors = verdict.literal.sectors;
    const auto total = static_cast<std::int64_t>(sectors.size());
    const std::int64_t minutes =
        std::max(kAtLeastMinutes, (total + kSectorsPerMinute - 1) / kSectorsPerMinute);
    const std::int64_t span = minutes * kSectorsPerMinute;
    const std::int64_t perBucket = (span + kBuckets - 1) / kBuckets;
    std::vector<Bucket> buckets(kBuckets);
    for (std::int64_t s = 0; s < total; ++s) {
        const SectorCounts& c = sectors[static_cast<std::size_t>(s)];
        Bucket& b = buckets[static_cast<std::size_t>(s / perBucket)];
        if (c.zeroFilled) {
            ++b.zeroFilled;  // a failed read: drawn grey, never as missed bytes
            continue;
        }
        b.bytes.wrong += c.wrongBytes;
        b.bytes.flagged += c.flaggedBytes;
        b.bytes.detected += c.detectedBytes;
    }
    std::uint64_t most = 1;
    for (const Bucket& b : buckets) {
        most = std::max({most, b.bytes.wrong, b.bytes.FalseFlags()});
    }
    // One decade of headroom, so the tallest bar stays inside the plot.
    const double decades = std::floor(std::log10(double(most))) + 2;
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << kWidth << "\" height=\""
        << kHeight << "\" viewBox=\"0 0 " << kWidth << ' ' << kHeight
        << "\" font-family=\"sans-serif\">\n"
        << "<rect width=\"100%\" height=\"100%\" fill=\"#fff\"/>\n";
    SvgText(out, kLeft, 26, title, "start", 16);
    const Tally& t = verdict.literal.bytes;
    SvgText(out, kLeft, 46,
            "wrong bytes " + Grouped(t.wrong) + ", detected " + Grouped(t.detected) + ", missed " +
                Grouped(t.Missed()) + ", false flags " + Grouped(t.FalseFlags()) +
                "; C2 pointers as delivered" +
                (verdict.moved ? " (they fit better " + verdict.best.shift.Describe() + ")" : ""));
    Legend(out);
    Axes(out, minutes, decades);
    const double width = kPlotWidth / kBuckets;
    for (int i = 0; i < kBuckets; ++i) {
        const Bucket& b = buckets[static_cast<std::size_t>(i)];
        const double x = kLeft + i * width;
        const std::int64_t first = i * perBucket;
        const std::int64_t end = std::min(first + perBucket, total);
        const std::string where =
            "sectors " + Grouped(first) + "-" + Grouped(end - 1) + " (" + SectorTime(first) + "): ";
        if (b.zeroFilled > 0) {
            Rect(out, "zerofilled", kZeroColour, x, kTop, width, 2 * kHalfHeight, first, end,
                 b.zeroFilled, where + Grouped(b.zeroFilled) + " sectors zero-filled");
        }
        if (b.bytes.wrong > 0) {
            const double h = BarHeight(b.bytes.wrong, decades);
            const double missed = h * double(b.bytes.Missed()) / double(b.bytes.wrong);
            if (b.bytes.detected > 0) {
                Rect(out, "detected", kDetectedColour, x, kAxisY - h + missed, width, h - missed,
                     first, end, b.bytes.detected,
                     where + Grouped(b.bytes.detected) + " wrong bytes detected");
            }
            if (b.bytes.Missed() > 0) {
                Rect(out, "missed", kMissedColour, x, kAxisY - h, width, missed, first, end,
                     b.bytes.Missed(), where + Grouped(b.bytes.Missed()) + " wrong bytes missed");
            }
        }
        if (b.bytes.FalseFlags() > 0) {
            Rect(out, "falseflag", kFalseColour, x, kAxisY, width,
                 BarHeight(b.bytes.FalseFlags(), decades), first, end, b.bytes.FalseFlags(),
                 where + Grouped(b.bytes.FalseFlags()) + " right bytes flagged");
        }
    }
    out << "</svg>\n";
}

}  // namespace report
