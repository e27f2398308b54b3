#include "pool/speed_chart.h"

#include <algorithm>
#include <map>
#include <utility>

#include "report/output/svg_chart.h"
#include "report/output/text.h"

namespace pool {
namespace {

using report::SvgNumber;
using report::SvgText;

// Two panels over the same speeds: detection from 0 to 100 %, the false-flag rate below on a
// scale of its own, since it is usually a few hundredths of detection's.
constexpr double kLeft = 80, kTop = 40, kPlotWidth = 860, kDetectionHeight = 220;
constexpr double kFalseTop = kTop + kDetectionHeight + 40, kFalseHeight = 140;
constexpr double kWidth = kLeft + kPlotWidth + 30;
constexpr double kAxisLabels = kFalseTop + kFalseHeight;
constexpr double kLegendTop = kAxisLabels + 72, kLegendLine = 20;
const char* const kColours[] = {"#1f77b4", "#2e9e44", "#d62728", "#9467bd",
                                "#ff9f1c", "#8c564b", "#e377c2", "#17becf"};

struct Series {
    std::string revision, form;
    std::map<std::size_t, const RowFigures*> bySpeed;  // speed's column -> row
};

struct Panel {
    double top, height;
    double most;  // the rate at the top
    bool detection;
    const char* label;
    [[nodiscard]] double Y(double rate) const {
        return top + height * (1 - std::min(rate, most) / most);
    }
};

double X(std::size_t column, std::size_t columns) {
    return kLeft + kPlotWidth * (static_cast<double>(column) + 0.5) / static_cast<double>(columns);
}

std::string Percent(double rate) {
    return report::Decimals(100 * rate, 2) + " %";
}

// The top of the false-flag panel: 1, 2 or 5 times a power of ten, at least every upper bound.
double FalseFlagScale(const std::vector<const RowFigures*>& rows) {
    double most = 0;
    for (const RowFigures* row : rows) {
        if (row->falseFlag.interval) {
            most = std::max(most, row->falseFlag.interval->high);
        }
    }
    for (double decade = 1e-5; decade < 1; decade *= 10) {
        for (double step : {1.0, 2.0, 5.0}) {
            if (most <= step * decade) {
                return step * decade;
            }
        }
    }
    return 1;
}

void Axes(const Panel& panel, std::ostream& out) {
    for (int fifth = 0; fifth <= 5; ++fifth) {
        const double rate = panel.most * fifth / 5, y = panel.Y(rate);
        out << "<line x1=\"" << kLeft << "\" y1=\"" << SvgNumber(y) << "\" x2=\""
            << kLeft + kPlotWidth << "\" y2=\"" << SvgNumber(y) << "\" stroke=\""
            << (fifth == 0 ? "#000" : "#e4e4e4") << "\"/>\n";
        SvgText(out, kLeft - 6, y + 4,
                report::Decimals(100 * rate, panel.most < 0.05 ? 3 : 0) + " %", "end", 10);
    }
    SvgText(out, 24, panel.top + panel.height / 2, panel.label, "middle", 11, true);
}

void SpeedAxis(const std::vector<std::string>& speeds, std::ostream& out) {
    for (std::size_t i = 0; i < speeds.size(); ++i) {
        SvgText(out, X(i, speeds.size()), kAxisLabels + 18, speeds[i], "middle");
    }
    SvgText(out, kLeft + kPlotWidth / 2, kAxisLabels + 38, "speed requested", "middle");
}

// One line of a series: dots (or squares) joined, each with its interval as a whisker.
void Line(const Series& series, std::size_t columns, const char* colour, const Panel& panel,
          std::ostream& out) {
    const bool detection = panel.detection;
    std::string points;
    for (const auto& [column, row] : series.bySpeed) {
        const Proportion& p = detection ? row->detection : row->falseFlag;
        if (!p.rate) {
            continue;
        }
        const double x = X(column, columns), y = panel.Y(*p.rate);
        points += SvgNumber(x) + "," + SvgNumber(y) + " ";
        out << "<line x1=\"" << SvgNumber(x) << "\" y1=\"" << SvgNumber(panel.Y(p.interval->low))
            << "\" x2=\"" << SvgNumber(x) << "\" y2=\"" << SvgNumber(panel.Y(p.interval->high))
            << "\" stroke=\"" << colour << "\"/>\n";
        const char* fill = row->judged ? colour : "#fff";
        if (detection) {
            out << "<circle cx=\"" << SvgNumber(x) << "\" cy=\"" << SvgNumber(y)
                << "\" r=\"4\" fill=\"" << fill << "\" stroke=\"" << colour << "\">";
        } else {
            out << "<rect x=\"" << SvgNumber(x - 4) << "\" y=\"" << SvgNumber(y - 4)
                << "\" width=\"8\" height=\"8\" fill=\"" << fill << "\" stroke=\"" << colour
                << "\">";
        }
        out << "<title>"
            << report::XmlEscape(series.revision + " " + series.form + " " + row->key.speed +
                                 (detection ? ": detection " : ": false-flag rate ") +
                                 Percent(*p.rate) + " (" + Percent(p.interval->low) + " to " +
                                 Percent(p.interval->high) + ")" +
                                 (row->judged ? "" : ", too little damage to judge"))
            << "</title>" << (detection ? "</circle>\n" : "</rect>\n");
    }
    if (!points.empty()) {
        points.pop_back();
        out << "<polyline points=\"" << points << "\" fill=\"none\" stroke=\"" << colour
            << "\" stroke-width=\"2\"" << (detection ? "" : " stroke-dasharray=\"6 4\"") << "/>\n";
    }
}

void Legend(const std::vector<Series>& series, std::ostream& out) {
    SvgText(out, kLeft, kLegendTop - 10,
            "above: detection (dots); below: false-flag rate (squares, dashed); hollow: too "
            "little damage to judge; whiskers: 95 % intervals",
            "start", 11);
    for (std::size_t i = 0; i < series.size(); ++i) {
        const double y = kLegendTop + kLegendLine * static_cast<double>(i);
        out << "<rect x=\"" << kLeft << "\" y=\"" << SvgNumber(y) << "\" width=\"12\" "
            << "height=\"12\" fill=\"" << kColours[i % std::size(kColours)] << "\"/>\n";
        SvgText(out, kLeft + 18, y + 11, series[i].revision + ", " + series[i].form);
    }
}

}  // namespace

void WriteSpeedChart(const std::vector<const RowFigures*>& rows,
                     const std::vector<std::string>& speeds, std::ostream& out) {
    std::map<std::pair<std::string, std::string>, Series> byLine;
    for (const RowFigures* row : rows) {
        Series& series = byLine[{row->key.revision, row->key.form}];
        series.revision = row->key.revision;
        series.form = row->key.form;
        const auto column = std::find(speeds.begin(), speeds.end(), row->key.speed);
        series.bySpeed[static_cast<std::size_t>(column - speeds.begin())] = row;
    }
    std::vector<Series> series;
    for (auto& [key, line] : byLine) {
        series.push_back(std::move(line));
    }
    const double height = kLegendTop + kLegendLine * static_cast<double>(series.size()) + 10;
    out << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << kWidth << "\" height=\""
        << SvgNumber(height) << "\" viewBox=\"0 0 " << kWidth << ' ' << SvgNumber(height)
        << "\" font-family=\"sans-serif\">\n"
        << "<rect width=\"100%\" height=\"100%\" fill=\"#fff\"/>\n";
    SvgText(out, kLeft, 24, "Detection and false-flag rate against speed, best alignment", "start",
            14);
    const Panel panels[] = {
        {kTop, kDetectionHeight, 1.0, true, "detection"},
        {kFalseTop, kFalseHeight, FalseFlagScale(rows), false, "false-flag rate"}};
    for (const Panel& panel : panels) {
        Axes(panel, out);
        for (std::size_t i = 0; i < series.size(); ++i) {
            Line(series[i], speeds.size(), kColours[i % std::size(kColours)], panel, out);
        }
    }
    SpeedAxis(speeds, out);
    Legend(series, out);
    out << "</svg>\n";
}

}  // namespace pool
