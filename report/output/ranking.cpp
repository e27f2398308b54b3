#include "report/output/ranking.h"

#include <algorithm>
#include <filesystem>
#include <tuple>

#include "report/judge.h"
#include "report/output/html_page.h"
#include "report/output/json_verdict.h"
#include "report/output/output_file.h"
#include "report/output/text.h"

namespace report {
namespace {

using Json = nlohmann::ordered_json;

std::optional<double> OptionalRate(const Json& value) {
    return value.is_null() ? std::nullopt : std::optional<double>(value.get<double>());
}

std::string Column(const std::string& text, std::size_t width, bool right) {
    const std::string pad(width > text.size() ? width - text.size() : 0, ' ');
    return right ? pad + text : text + pad;
}

// A CSV field: quoted when it holds a comma, a quote or a line end.
std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (const char c : text) {
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    }
    return quoted + "\"";
}

// "<folder>/<name>.report.json" -> "<folder>/<name>.report.html".
std::string PageOf(const std::string& verdictPath) {
    std::filesystem::path path(verdictPath);
    return path.replace_extension(".html").string();
}

// A study verdict's row: "<vendor> <product> <revision> <form> <speed>", partial ones marked.
std::string StudyRowName(const Json& study) {
    std::string name;
    for (const char* field : {"vendor", "product", "revision", "form"}) {
        const std::string part = study.at(field).get<std::string>();
        if (!part.empty()) {
            name += (name.empty() ? "" : " ") + part;
        }
    }
    if (!name.empty()) {
        name += ' ';
    }
    name += StudySpeedLabel(study);
    return name + (study.value("completed", true) ? "" : " (partial)");
}

const char* const kMovedMark = "* ";

}  // namespace

std::optional<RankedDrive> RankedFromVerdict(const Json& v, const std::string& path,
                                             std::string& error) {
    try {
        RankedDrive d;
        d.verdictPath = path;
        d.pagePath = PageOf(path);
        d.verdict = v;
        d.drive =
            v.contains("study") ? StudyRowName(v.at("study")) : v.at("drive").get<std::string>();
        d.partial = v.contains("study") && !v.at("study").value("completed", true);
        d.bytesCompared = v.at("bytesCompared").get<std::uint64_t>();
        d.literalMissedPerMillion = v.at("missedPerMillion").get<double>();
        d.literalFalseFlagRate =
            OptionalRate(v.at("c2").at("literal").at("bytes").at("falseFlagRate"));
        const Json& best = v.at("c2").at("best");
        d.falseFlagRate = OptionalRate(best.at("bytes").at("falseFlagRate"));
        d.detectionRate = OptionalRate(best.at("bytes").at("detectionRate"));
        d.missedBytes = best.at("bytes").at("missed").get<std::uint64_t>();
        // Verdicts written before the best alignment had its own figure: the same sum.
        if (!best.contains("missedPerMillion")) {
            d.verdict["c2"]["best"]["missedPerMillion"] =
                PerMillion(d.missedBytes, d.bytesCompared);
        }
        d.missedPerMillion = d.verdict["c2"]["best"]["missedPerMillion"].get<double>();
        d.moved = best.at("shift").at("pointerBits").get<std::int64_t>() != 0;
        d.offsetSamples = v.at("alignment").at("offsetSamples").get<std::int64_t>();
        d.unreadableSectors = v.at("zeroFilled").at("sectors").get<std::int64_t>();
        d.c2Alignment = best.at("shift").at("text").get<std::string>();
        d.referenceSha256 = v.at("inputs").at("reference").at("sha256").get<std::string>();
        return d;
    } catch (const nlohmann::json::exception& failure) {
        // The library's own words say which field is missing or of the wrong type.
        error = "\"" + path + "\" is not a complete c2report verdict (" + failure.what() + ").";
        return std::nullopt;
    }
}

void SortRanking(std::vector<RankedDrive>& drives) {
    std::stable_sort(drives.begin(), drives.end(), [](const RankedDrive& a, const RankedDrive& b) {
        return std::tuple(a.missedPerMillion, a.falseFlagRate.value_or(0.0), a.drive) <
               std::tuple(b.missedPerMillion, b.falseFlagRate.value_or(0.0), b.drive);
    });
}

void WriteRankingTable(const std::vector<RankedDrive>& drives, const std::string& heading,
                       std::ostream& out) {
    std::size_t nameWidth = 5;
    for (const RankedDrive& d : drives) {
        nameWidth = std::max(nameWidth, d.drive.size());
    }
    out << heading << '\n'
        << "     " << std::string(nameWidth, ' ')
        << "  ---------- best alignment ------------  --- as delivered ----\n"
        << Column("#", 3, true) << "  " << Column("drive", nameWidth, false)
        << "  missed/million  false flags  detection  missed/million  false flags  offset  "
           "unreadable  C2 alignment\n";
    for (std::size_t i = 0; i < drives.size(); ++i) {
        const RankedDrive& d = drives[i];
        out << Column(std::to_string(i + 1), 3, true) << "  " << Column(d.drive, nameWidth, false)
            << "  " << Column(Decimals(d.missedPerMillion), 14, true) << "  "
            << Column(RateText(d.falseFlagRate), 11, true) << "  "
            << Column(RateText(d.detectionRate), 9, true) << "  "
            << Column(Decimals(d.literalMissedPerMillion), 14, true) << "  "
            << Column(RateText(d.literalFalseFlagRate), 11, true) << "  "
            << Column(SignedNumber(d.offsetSamples), 6, true) << "  "
            << Column(Grouped(static_cast<std::uint64_t>(d.unreadableSectors)), 10, true) << "  "
            << (d.moved ? kMovedMark : "") << d.c2Alignment << '\n';
    }
    out << "(* the pointers fit best moved: a ripper that applies this lag trusts the best "
           "alignment's figures)\n";
}

void WriteRankingCsv(const std::vector<RankedDrive>& drives, std::ostream& out) {
    out << "rank,drive,missed_per_million,false_flag_rate,detection_rate,missed_bytes,"
           "bytes_compared,delivered_missed_per_million,delivered_false_flag_rate,"
           "offset_samples,unreadable_sectors,c2_alignment,partial,verdict\n";
    for (std::size_t i = 0; i < drives.size(); ++i) {
        const RankedDrive& d = drives[i];
        auto rate = [](const std::optional<double>& r) { return r ? Decimals(*r, 6) : ""; };
        out << i + 1 << ',' << CsvField(d.drive) << ',' << Decimals(d.missedPerMillion) << ','
            << rate(d.falseFlagRate) << ',' << rate(d.detectionRate) << ',' << d.missedBytes << ','
            << d.bytesCompared << ',' << Decimals(d.literalMissedPerMillion) << ','
            << rate(d.literalFalseFlagRate) << ',' << d.offsetSamples << ',' << d.unreadableSectors
            << ',' << CsvField(d.c2Alignment) << ',' << (d.partial ? 1 : 0) << ','
            << CsvField(d.verdictPath) << '\n';
    }
}

void WriteRankingHtmlTable(const std::vector<RankedDrive>& drives, const std::string& pageFolder,
                           std::ostream& out) {
    out << "<div class=\"scroll\"><table>\n<tr><th></th><th></th><th colspan=\"3\">best "
           "alignment</th><th colspan=\"2\">as delivered</th><th colspan=\"3\"></th></tr>\n"
           "<tr><th>#</th><th class=\"name\">drive</th><th>missed/million</th><th>false "
           "flags</th><th>detection</th><th>missed/million</th><th>false flags</th>"
           "<th>offset</th><th>unreadable</th><th class=\"name\">C2 alignment</th></tr>\n";
    for (std::size_t i = 0; i < drives.size(); ++i) {
        const RankedDrive& d = drives[i];
        const Json& v = d.verdict;
        out << "<tr data-verdict=\"" << XmlEscape(d.verdictPath) << "\"><td>" << i + 1
            << "</td><td class=\"name\"><a href=\"" << RelativeLink(d.pagePath, pageFolder) << "\">"
            << XmlEscape(d.drive) << "</a></td>" << NumberCell(v, "/c2/best/missedPerMillion")
            << NumberCell(v, "/c2/best/bytes/falseFlagRate", true)
            << NumberCell(v, "/c2/best/bytes/detectionRate", true)
            << NumberCell(v, "/missedPerMillion")
            << NumberCell(v, "/c2/literal/bytes/falseFlagRate", true)
            << NumberCell(v, "/alignment/offsetSamples") << NumberCell(v, "/zeroFilled/sectors")
            << "<td class=\"name\">" << (d.moved ? kMovedMark : "") << XmlEscape(d.c2Alignment)
            << "</td></tr>\n";
    }
    out << "</table></div>\n<p class=\"small\">* the pointers fit best moved: a ripper that "
           "applies this lag trusts the best alignment's figures.</p>\n";
}

void WriteRankingPage(const std::vector<RankedDrive>& drives, std::ostream& out) {
    WritePageStart("C2 ranking of " + std::to_string(drives.size()) +
                       (drives.size() == 1 ? " drive" : " drives"),
                   out);
    out << "<p>Fewest missed bytes per million compared at the best alignment of the pointers "
           "first (errors the drive did not flag: what a ripper that applies the drive's lag "
           "would trust), then fewest false flags there. All verdicts were made against the "
           "same reference. Each drive links to its report page.</p>\n";
    WriteRankingHtmlTable(drives, ".", out);
    WritePageEnd(out);
}

int RunCompare(const std::vector<std::string>& paths, std::ostream& out, std::ostream& err) {
    if (paths.empty()) {
        err << "Usage : c2report --compare <drive>.report.json ...\n";
        return kExitBadInput;
    }
    std::vector<RankedDrive> drives;
    for (const std::string& path : paths) {
        std::string error;
        const auto verdict = ReadVerdictJson(path, error);
        auto drive = verdict ? RankedFromVerdict(*verdict, path, error) : std::nullopt;
        if (!drive) {
            err << error << '\n';
            return kExitBadInput;
        }
        if (!drives.empty() && drive->referenceSha256 != drives.front().referenceSha256) {
            err << "\"" << path << "\" and \"" << drives.front().verdictPath
                << "\" were made against different references (SHA-256 "
                << drive->referenceSha256.substr(0, 16) << "... and "
                << drives.front().referenceSha256.substr(0, 16)
                << "...): their drives cannot be ranked together.\n";
            return kExitBadInput;
        }
        drives.push_back(*drive);
    }
    SortRanking(drives);
    WriteRankingTable(drives,
                      "Ranking of " + std::to_string(drives.size()) +
                          (drives.size() == 1 ? " drive" : " drives") +
                          " (fewest missed bytes per million compared at the best alignment "
                          "first, then fewest false flags):",
                      out);
    for (const auto& [path, write] :
         {std::pair<std::string, void (*)(const std::vector<RankedDrive>&, std::ostream&)>{
              "comparison.csv", WriteRankingCsv},
          {"comparison.html", WriteRankingPage}}) {
        if (!WriteWholeFile(path, [&, write = write](std::ostream& s) { write(drives, s); })) {
            err << "Cannot write \"" << path << "\".\n";
            return kExitIoError;
        }
    }
    out << "Ranking table:       comparison.csv\nRanking page:        comparison.html\n";
    return FlushConsole(out, err, "Cannot write the ranking to standard output.") ? kExitOk
                                                                                  : kExitIoError;
}

}  // namespace report
