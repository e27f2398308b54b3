#include "pool/pages.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <map>
#include <nlohmann/json.hpp>

#include "pool/speed_chart.h"
#include "report/output/html_page.h"
#include "report/output/text.h"
#include "runtime/sha256.h"

namespace pool {
namespace {

using report::CsvField;
using report::Grouped;
using report::XmlEscape;
using Json = nlohmann::ordered_json;

constexpr std::size_t kPageNameHashDigits = 10;
constexpr std::size_t kPageNameTextLength = 48;

// The shortest text that reads back as the same double.
std::string Exact(double value) {
    std::array<char, 32> text{};
    const auto end = std::to_chars(text.data(), text.data() + text.size(), value).ptr;
    return std::string(text.data(), end);
}

std::string Exact(const std::optional<double>& value) {
    return value ? Exact(*value) : "";
}

std::string Percent(const std::optional<double>& rate) {
    return rate ? report::Decimals(100 * *rate, 2) + " %" : "n/a";
}

// " (95 %: 12.10 to 12.50 %)"; empty for an undefined rate.
std::string IntervalText(const Proportion& p) {
    if (!p.interval) {
        return "";
    }
    return " <span class=\"small\">(" + report::Decimals(100 * p.interval->low, 2) + " to " +
           Percent(p.interval->high) + ")</span>";
}

// "1 pass", "3 passes".
std::string Count(std::int64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string ShiftText(std::int32_t bits) {
    return report::SignedNumber(bits) + " bits";
}

std::string Place(const std::optional<std::int64_t>& place) {
    return place ? std::to_string(*place) : "&ndash;";
}

const char* const kTooLittle = "too little damage to judge";

const char* const kHowComputed = R"(<h2>How the figures are computed</h2>
<p>Each row is one drive model at one firmware revision, one read command (form) and one
requested speed. A pass read by several people (the same audio and the same C2 pointers) counts
once. The figures sum the row's passes at the alignment of the C2 pointers that fits them best:
<strong>detection</strong> is the share of wrong bytes the drive flagged; the
<strong>false-flag rate</strong> the share of flagged bytes that were right; beside them the false
flags per million right bytes, the most common shift of the pointers (the lag) and the detection
of the pointers as delivered. Each rate carries its 95&nbsp;% Wilson score interval.</p>
<p>Rows rank by the lower bound of their detection interval (highest first), then by the upper
bound of their false-flag interval (lowest first), so that a few lucky passes never outrank many
good ones. A row with fewer than 10,000 wrong bytes is shown but not ranked: too little damage to
judge. A model takes the place of its best row.</p>
<p>Missed bytes per million compared is not used: it depends on how damaged each person's disc
was as much as on the drive, so it cannot be compared across discs.</p>
<h2>The downloads</h2>
<p><strong>pool.csv</strong> has one line per row, in ranking order, with the columns: rank (empty
when not ranked), vendor, product, revision, form, speed, judged (0 when too little damage),
detection with its interval (detection_low, detection_high), false_flag_rate with its interval,
false_flags_per_million (per million right bytes), lag_bits and lag_passes (the most common shift
of the pointers, ties to the smaller, and in how many passes), delivered_detection (the pointers
as delivered), the sums wrong, flagged, detected, false_flags, bytes_compared, delivered_wrong and
delivered_detected, where the false flags sit (other_byte_of_wrong_sample,
elsewhere_in_sector_with_errors, in_sector_without_errors) and whole_sectors_flagged, passes,
submissions, units (distinct drive units) and median_kbps (the median measured read rate). Rates
are fractions (0.95, not 95&nbsp;%), given exactly; an undefined figure is empty. A text that
starts like a spreadsheet formula is written behind a '.
<strong>pool.json</strong> holds the same rows under the same figures, null where undefined, and
the models with their place and page. <strong>pool.sqlite</strong> is the whole pool: every
submission as it was sent, for anyone to check and query.</p>
)";

// Rows of one model indexed by revision (down) and by form and speed (across).
struct Matrix {
    std::vector<std::string> revisions;
    std::vector<std::pair<std::string, std::string>> columns;  // form, speed
    std::map<std::pair<std::string, std::pair<std::string, std::string>>, const RowFigures*> cells;
};

Matrix MatrixOf(const std::vector<const RowFigures*>& rows) {
    Matrix m;
    for (const RowFigures* row : rows) {
        m.revisions.push_back(row->key.revision);
        m.columns.emplace_back(row->key.form, row->key.speed);
        m.cells[{row->key.revision, {row->key.form, row->key.speed}}] = row;
    }
    std::sort(m.revisions.begin(), m.revisions.end());
    m.revisions.erase(std::unique(m.revisions.begin(), m.revisions.end()), m.revisions.end());
    std::sort(m.columns.begin(), m.columns.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first < b.first : SpeedBefore(a.second, b.second);
    });
    m.columns.erase(std::unique(m.columns.begin(), m.columns.end()), m.columns.end());
    return m;
}

std::vector<std::string> SpeedsOf(const std::vector<const RowFigures*>& rows) {
    std::vector<std::string> speeds;
    for (const RowFigures* row : rows) {
        speeds.push_back(row->key.speed);
    }
    std::sort(speeds.begin(), speeds.end(),
              [](const std::string& a, const std::string& b) { return SpeedBefore(a, b); });
    speeds.erase(std::unique(speeds.begin(), speeds.end()), speeds.end());
    return speeds;
}

// Wide enough for its longest line, so that many forms and speeds scroll rather than squeeze.
const char* const kCell = "<td class=\"cell text\" style=\"min-width: 17em\">";

void WriteCell(const RowFigures& r, std::ostream& out) {
    const report::SubmissionGranularity& g = r.granularity;
    out << kCell << "<strong>" << Percent(r.detection.rate) << "</strong> detected"
        << IntervalText(r.detection) << "<br>" << Percent(r.falseFlag.rate) << " false flags"
        << IntervalText(r.falseFlag) << "<br>"
        << (r.falseFlagsPerMillion ? report::Decimals(*r.falseFlagsPerMillion) : "n/a")
        << " per million right bytes<br>lag " << ShiftText(r.lag) << " (" << r.lagPasses << " of "
        << r.passes << ")<br>" << Percent(r.literalDetection)
        << " detected as delivered<br><span class=\"small\">wrong " << Grouped(r.wrong)
        << ", flagged " << Grouped(r.flagged) << ", detected " << Grouped(r.detected) << ", false "
        << Grouped(r.falseFlags) << "<br>false flags on a wrong sample's other byte "
        << Grouped(g.otherByteOfWrongSample) << ", elsewhere in sectors with errors "
        << Grouped(g.elsewhereInSectorWithErrors) << ", in sectors without "
        << Grouped(g.inSectorWithoutErrors) << "; sectors flagged whole "
        << Grouped(g.wholeSectorsFlagged) << "</span><br>" << Count(r.passes, "pass", "passes")
        << ", " << Count(r.submissions, "submission", "submissions") << ", "
        << Count(r.units, "unit", "units") << "<br>"
        << (r.medianKBps ? "median " + report::Decimals(*r.medianKBps, 1) + " kB/s"
                         : std::string("speed not measured"))
        << "<br>"
        // Not the row's rank: that moves with every other model's rows, and a model's page is
        // rewritten only when its own submissions change.
        << (r.rank ? std::string("ranked on the index")
                   : std::string("<em>") + kTooLittle + "</em>")
        << "</td>";
}

void WriteMatrix(const std::vector<const RowFigures*>& rows, std::ostream& out) {
    const Matrix m = MatrixOf(rows);
    out << "<h2>Figures by revision, form and speed</h2>\n<div class=\"scroll\"><table "
           "class=\"matrix\">\n<tr><th>revision</th>";
    for (const auto& [form, speed] : m.columns) {
        out << "<th>" << XmlEscape(form) << "<br>" << XmlEscape(speed) << "</th>";
    }
    out << "</tr>\n";
    for (const std::string& revision : m.revisions) {
        out << "<tr><td class=\"name\">" << XmlEscape(revision) << "</td>";
        for (const auto& column : m.columns) {
            const auto cell = m.cells.find({revision, column});
            if (cell == m.cells.end()) {
                out << kCell << "</td>";
            } else {
                WriteCell(*cell->second, out);
            }
        }
        out << "</tr>\n";
    }
    out << "</table></div>\n";
}

void WritePassRow(const ListedPass& pass, std::ostream& out) {
    const report::SubmissionFigures& f = pass.figures;
    out << "<td>" << XmlEscape(pass.form) << "</td><td>" << XmlEscape(pass.speed) << "</td><td>"
        << Grouped(f.bytesCompared) << "</td><td>" << Grouped(f.best.wrong) << "</td><td>"
        << Grouped(f.best.flagged) << "</td><td>" << Grouped(f.best.detected) << "</td><td>"
        << Grouped(f.best.falseFlags) << "</td><td>"
        << Percent(f.best.wrong ? std::optional(double(f.best.detected) / double(f.best.wrong))
                                : std::nullopt)
        << "</td><td>" << ShiftText(f.best.shiftPointerBits) << "</td><td>"
        << Grouped(f.asDelivered.detected) << "</td><td>"
        << (pass.measuredKBps ? report::Decimals(*pass.measuredKBps, 1) : "n/a")
        << "</td><td class=\"text\">"
        << (pass.countedWith ? "counted with " + XmlEscape(*pass.countedWith) : "counted here")
        << "</td></tr>\n";
}

void WriteSubmission(const ListedSubmission& s, std::ostream& out) {
    const std::size_t span = std::max<std::size_t>(1, s.passes.size());
    out << "<tbody id=\"s" << XmlEscape(s.id) << "\"><tr><td class=\"name\" rowspan=\"" << span
        << "\"><strong>" << XmlEscape(s.id) << "</strong><br><span class=\"small\">"
        << XmlEscape(s.revision) << ", unit " << (s.unit ? XmlEscape(s.unit->substr(0, 12)) : "?")
        << "<br>" << XmlEscape(s.month) << " " << XmlEscape(s.platform) << " "
        << XmlEscape(s.transport) << ", tool " << XmlEscape(s.toolVersion) << "</span></td>";
    if (s.passes.empty()) {
        out << "<td colspan=\"12\" class=\"text\">no passes</td></tr>\n";
    }
    for (std::size_t i = 0; i < s.passes.size(); ++i) {
        if (i > 0) {
            out << "<tr>";
        }
        WritePassRow(s.passes[i], out);
    }
    out << "</tbody>\n";
}

void WriteSubmissions(const DriveModel& model, PoolReader& pool, std::ostream& out) {
    out << "<h2>Submissions</h2>\n<p>Each submission by its id, with each pass's figures at the "
           "best alignment. A pass counts once: in the first submission that brought it.</p>\n"
           "<div class=\"scroll\"><table>\n<thead><tr><th class=\"name\">submission</th>"
           "<th>form</th><th>speed</th><th>compared</th><th>wrong</th><th>flagged</th>"
           "<th>detected</th><th>false flags</th><th>detection</th><th>lag</th>"
           "<th>detected as delivered</th><th>kB/s</th><th class=\"name\">counted</th>"
           "</tr></thead>\n";
    pool.ForEachSubmissionOf(model, [&](const ListedSubmission& s) { WriteSubmission(s, out); });
    out << "</table></div>\n";
}

Json RateJson(const Proportion& p) {
    Json json = Json::object();
    json["rate"] = p.rate ? Json(*p.rate) : Json(nullptr);
    json["low"] = p.interval ? Json(p.interval->low) : Json(nullptr);
    json["high"] = p.interval ? Json(p.interval->high) : Json(nullptr);
    return json;
}

Json Optional(const std::optional<double>& value) {
    return value ? Json(*value) : Json(nullptr);
}

Json RowJson(const RowFigures& r) {
    const report::SubmissionGranularity& g = r.granularity;
    return Json{{"rank", r.rank ? Json(*r.rank) : Json(nullptr)},
                {"vendor", r.key.vendor},
                {"product", r.key.product},
                {"revision", r.key.revision},
                {"form", r.key.form},
                {"speed", r.key.speed},
                {"judged", r.judged},
                {"detection", RateJson(r.detection)},
                {"falseFlag", RateJson(r.falseFlag)},
                {"falseFlagsPerMillion", Optional(r.falseFlagsPerMillion)},
                {"lag", {{"shiftPointerBits", r.lag}, {"passes", r.lagPasses}}},
                {"asDelivered",
                 {{"wrong", r.literalWrong},
                  {"detected", r.literalDetected},
                  {"detection", Optional(r.literalDetection)}}},
                {"sums",
                 {{"wrong", r.wrong},
                  {"flagged", r.flagged},
                  {"detected", r.detected},
                  {"falseFlags", r.falseFlags},
                  {"bytesCompared", r.bytesCompared}}},
                {"granularity",
                 {{"otherByteOfWrongSample", g.otherByteOfWrongSample},
                  {"elsewhereInSectorWithErrors", g.elsewhereInSectorWithErrors},
                  {"inSectorWithoutErrors", g.inSectorWithoutErrors},
                  {"wholeSectorsFlagged", g.wholeSectorsFlagged}}},
                {"passes", r.passes},
                {"submissions", r.submissions},
                {"units", r.units},
                {"medianKBps", Optional(r.medianKBps)}};
}

}  // namespace

std::string ModelPageName(const DriveModel& model) {
    const std::string identity = model.vendor + '\0' + model.product;
    const std::string hash = runtime::Sha256Hex(
        std::span(reinterpret_cast<const std::uint8_t*>(identity.data()), identity.size()));
    std::string text;
    for (const unsigned char c : model.vendor + " " + model.product) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        const bool upper = c >= 'A' && c <= 'Z';
        if (plain || upper) {
            text += static_cast<char>(upper ? c - 'A' + 'a' : c);
        } else if (!text.empty() && text.back() != '-') {
            text += '-';
        }
        if (text.size() == kPageNameTextLength) {
            break;
        }
    }
    while (!text.empty() && text.back() == '-') {
        text.pop_back();
    }
    return "drive-" + (text.empty() ? std::string("model") : text) + "-" +
           hash.substr(0, kPageNameHashDigits) + ".html";
}

bool IsModelPageName(const std::string& name) {
    const std::string_view prefix = "drive-", suffix = ".html";
    if (name.size() <= prefix.size() + suffix.size() || !name.starts_with(prefix) ||
        !name.ends_with(suffix)) {
        return false;
    }
    return std::all_of(
        name.begin(), name.end() - static_cast<std::ptrdiff_t>(suffix.size()),
        [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-'; });
}

void WriteIndexPage(const PoolFigures& figures, std::ostream& out) {
    report::WritePageStart("C2 honesty of CD drives: the pooled table", out);
    std::int64_t passes = 0;
    for (const RowFigures& row : figures.rows) {
        passes += row.passes;
    }
    out << "<p>"
        << Count(static_cast<std::int64_t>(figures.models.size()), "drive model", "drive models")
        << ", " << Count(static_cast<std::int64_t>(figures.rows.size()), "row", "rows")
        << " (model, firmware revision, read command, speed), " << Grouped(passes)
        << " distinct passes. Downloads: <a href=\"pool.csv\">pool.csv</a>, "
           "<a href=\"pool.json\">pool.json</a> (every row with every figure), "
           "<a href=\"pool.sqlite\">pool.sqlite</a> (the whole pool).</p>\n"
        << "<h2>Models ranked by their best row</h2>\n<div class=\"scroll\"><table>\n"
        << "<tr><th>#</th><th class=\"name\">vendor</th><th class=\"name\">product</th>"
           "<th class=\"name\">revision</th><th class=\"name\">form</th><th class=\"name\">"
           "speed</th><th>detection (95 %)</th><th>false flags (95 %)</th><th>units</th>"
           "<th>passes</th><th class=\"name\">page</th></tr>\n";
    for (const ModelPlace& m : figures.models) {
        const RowFigures& r = figures.rows[m.bestRow];
        out << "<tr><td>" << Place(m.place) << "</td><td class=\"name\">"
            << XmlEscape(m.model.vendor) << "</td><td class=\"name\">" << XmlEscape(m.model.product)
            << "</td><td class=\"name\">" << XmlEscape(r.key.revision) << "</td><td class=\"name\">"
            << XmlEscape(r.key.form) << "</td><td class=\"name\">" << XmlEscape(r.key.speed)
            << "</td><td>" << Percent(r.detection.rate) << IntervalText(r.detection) << "</td><td>"
            << Percent(r.falseFlag.rate) << IntervalText(r.falseFlag) << "</td><td>" << r.units
            << "</td><td>" << r.passes << "</td><td class=\"name\"><a href=\""
            << report::RelativeLink(ModelPageName(m.model), ".") << "\">"
            << (r.judged ? "all figures" : kTooLittle) << "</a></td></tr>\n";
    }
    out << "</table></div>\n" << kHowComputed;
    report::WritePageEnd(out);
}

void WriteModelPage(const DriveModel& model, const std::vector<const RowFigures*>& rows,
                    PoolReader& pool, std::ostream& out) {
    report::WritePageStart(model.vendor + " " + model.product, out);
    out << "<p><a href=\"index.html\">All drive models</a>. Figures at the best alignment of "
           "the C2 pointers, each rate with its 95 % Wilson interval; rows with fewer than "
        << Grouped(kMinWrongToJudge) << " wrong bytes are marked " << kTooLittle
        << " and not ranked.</p>\n";
    WriteMatrix(rows, out);
    out << "<h2>Against speed</h2>\n";
    WriteSpeedChart(rows, SpeedsOf(rows), out);
    WriteSubmissions(model, pool, out);
    report::WritePageEnd(out);
}

// Columns, one row per line in ranking order: rank (empty when not ranked), vendor, product,
// revision, form, speed, judged (1 or 0), detection and its interval (low, high),
// false_flag_rate and its interval, false_flags_per_million, lag_bits, lag_passes,
// delivered_detection, the sums (wrong, flagged, detected, false_flags, bytes_compared,
// delivered_wrong, delivered_detected), the false flags' granularity, passes, submissions,
// units, median_kbps. An undefined figure is an empty field; numbers read back exactly.
void WritePoolCsv(const PoolFigures& figures, std::ostream& out) {
    out << "rank,vendor,product,revision,form,speed,judged,detection,detection_low,"
           "detection_high,false_flag_rate,false_flag_low,false_flag_high,"
           "false_flags_per_million,lag_bits,lag_passes,delivered_detection,wrong,flagged,"
           "detected,false_flags,bytes_compared,delivered_wrong,delivered_detected,"
           "other_byte_of_wrong_sample,elsewhere_in_sector_with_errors,"
           "in_sector_without_errors,whole_sectors_flagged,passes,submissions,units,"
           "median_kbps\n";
    const auto rate = [](const Proportion& p) {
        return Exact(p.rate) + "," + (p.interval ? Exact(p.interval->low) : "") + "," +
               (p.interval ? Exact(p.interval->high) : "");
    };
    for (const RowFigures& r : figures.rows) {
        const report::SubmissionGranularity& g = r.granularity;
        out << (r.rank ? std::to_string(*r.rank) : "") << ',' << CsvField(r.key.vendor) << ','
            << CsvField(r.key.product) << ',' << CsvField(r.key.revision) << ','
            << CsvField(r.key.form) << ',' << CsvField(r.key.speed) << ',' << (r.judged ? 1 : 0)
            << ',' << rate(r.detection) << ',' << rate(r.falseFlag) << ','
            << Exact(r.falseFlagsPerMillion) << ',' << r.lag << ',' << r.lagPasses << ','
            << Exact(r.literalDetection) << ',' << r.wrong << ',' << r.flagged << ',' << r.detected
            << ',' << r.falseFlags << ',' << r.bytesCompared << ',' << r.literalWrong << ','
            << r.literalDetected << ',' << g.otherByteOfWrongSample << ','
            << g.elsewhereInSectorWithErrors << ',' << g.inSectorWithoutErrors << ','
            << g.wholeSectorsFlagged << ',' << r.passes << ',' << r.submissions << ',' << r.units
            << ',' << Exact(r.medianKBps) << '\n';
    }
}

void WritePoolJson(const PoolFigures& figures, std::ostream& out) {
    Json rows = Json::array();
    for (const RowFigures& row : figures.rows) {
        rows.push_back(RowJson(row));
    }
    Json models = Json::array();
    for (const ModelPlace& m : figures.models) {
        models.push_back({{"place", m.place ? Json(*m.place) : Json(nullptr)},
                          {"vendor", m.model.vendor},
                          {"product", m.model.product},
                          {"bestRow", m.bestRow},
                          {"page", ModelPageName(m.model)}});
    }
    const Json document{{"format", "c2pool figures"},
                        {"formatVersion", 1},
                        {"minimumWrongToJudge", kMinWrongToJudge},
                        {"confidence", 0.95},
                        {"rows", std::move(rows)},
                        {"models", std::move(models)}};
    // Strings from submissions may hold any bytes; nothing here may fail on them.
    out << document.dump(1, ' ', false, Json::error_handler_t::replace) << '\n';
}

}  // namespace pool
