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

constexpr double kLeft = 80, kTop = 40, kPlotWidth = 860, kPlotHeight = 260;
constexpr double kWidth = kLeft + kPlotWidth + 30;
constexpr double kLegendTop = kTop + kPlotHeight + 72, kLegendLine = 20;
const char* const kColours[] = {"#1f77b4", "#2e9e44", "#d62728", "#9467bd",
                                "#ff9f1c", "#8c564b", "#e377c2", "#17becf"};

struct Series {
    std::string revision, form;
    std::map<std::size_t, const RowFigures*> bySpeed;  // speed's column -> row
};

double X(std::size_t column, std::size_t columns) {
    return kLeft + kPlotWidth * (static_cast<double>(column) + 0.5) / static_cast<double>(columns);
}

double Y(double rate) {
    return kTop + kPlotHeight * (1 - rate);
}

std::string Percent(double rate) {
    return report::Decimals(100 * rate, 2) + " %";
}

void Axes(const std::vector<std::string>& speeds, std::ostream& out) {
    for (int tenth = 0; tenth <= 10; ++tenth) {
        const double y = Y(tenth / 10.0);
        out << "<line x1=\"" << kLeft << "\" y1=\"" << SvgNumber(y) << "\" x2=\""
            << kLeft + kPlotWidth << "\" y2=\"" << SvgNumber(y) << "\" stroke=\""
            << (tenth == 0 ? "#000" : "#e4e4e4") << "\"/>\n";
        SvgText(out, kLeft - 6, y + 4, std::to_string(tenth * 10) + " %", "end", 10);
    }
    for (std::size_t i = 0; i < speeds.size(); ++i) {
        SvgText(out, X(i, speeds.size()), kTop + kPlotHeight + 18, speeds[i], "middle");
    }
    SvgText(out, kLeft + kPlotWidth / 2, kTop + kPlotHeight + 38, "speed requested", "middle");
    SvgText(out, 24, kTop + kPlotHeight / 2, "share of bytes", "middle", 11, true);
}

// One line of a series: dots (or squares) joined, each with its interval as a whisker.
void Line(const Series& series, std::size_t columns, const char* colour, bool detection,
          std::ostream& out) {
    std::string points;
    for (const auto& [column, row] : series.bySpeed) {
        const Proportion& p = detection ? row->detection : row->falseFlag;
        if (!p.rate) {
            continue;
        }
        const double x = X(column, columns), y = Y(*p.rate);
        points += SvgNumber(x) + "," + SvgNumber(y) + " ";
        out << "<line x1=\"" << SvgNumber(x) << "\" y1=\"" << SvgNumber(Y(p.interval->low))
            << "\" x2=\"" << SvgNumber(x) << "\" y2=\"" << SvgNumber(Y(p.interval->high))
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
            "solid with dots: detection; dashed with squares: false-flag rate; hollow: too "
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
    Axes(speeds, out);
    for (std::size_t i = 0; i < series.size(); ++i) {
        const char* colour = kColours[i % std::size(kColours)];
        Line(series[i], speeds.size(), colour, true, out);
        Line(series[i], speeds.size(), colour, false, out);
    }
    Legend(series, out);
    out << "</svg>\n";
}

}  // namespace pool
