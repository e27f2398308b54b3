#include "report/output/html_page.h"

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "report/output/text.h"

namespace report {
namespace {

using Json = nlohmann::ordered_json;

const char* const kStyle = R"(
:root { color-scheme: light; }
body { font-family: system-ui, sans-serif; margin: 0 auto; max-width: 1240px; padding: 1rem;
       color: #222; background: #fff; line-height: 1.4; }
h1 { font-size: 1.5rem; margin: 0.2rem 0 0.8rem; }
h2 { font-size: 1.15rem; margin: 1.6rem 0 0.5rem; border-bottom: 1px solid #ddd; }
.headline { font-size: 1.1rem; background: #f4f6f8; border-left: 4px solid #2e9e44;
            padding: 0.6rem 0.8rem; }
.warning { border-left-color: #d62728; }
.scroll { overflow-x: auto; }
table { border-collapse: collapse; margin: 0.3rem 0; }
th, td { padding: 0.25rem 0.45rem; border-bottom: 1px solid #eee; text-align: right;
         white-space: nowrap; }
th:first-child, td:first-child { text-align: left; }
td.text { text-align: left; white-space: normal; }
th.name, td.name { text-align: left; }
.matrix td.cell { text-align: left; vertical-align: top; border-left: 1px solid #eee; }
dl { display: grid; grid-template-columns: max-content 1fr; gap: 0.2rem 1rem; margin: 0; }
dt { font-weight: 600; }
dd { margin: 0; overflow-wrap: anywhere; }
svg { width: 100%; height: auto; display: block; }
.small { font-size: 0.85rem; color: #555; }
@media (max-width: 600px) {
  body { padding: 0.5rem; }
  dl { grid-template-columns: 1fr; }
  dt { margin-top: 0.4rem; }
}
)";

const Json& At(const Json& json, const std::string& path) {
    return json.at(Json::json_pointer(path));
}

std::string Text(const Json& json, const std::string& path) {
    return XmlEscape(At(json, path).get<std::string>());
}

std::string Dd(const std::string& label, const std::string& html) {
    return "<dt>" + label + "</dt><dd>" + html + "</dd>\n";
}

std::string SampleOffset(const Json& v) {
    const auto offset = At(v, "/alignment/offsetSamples").get<std::int64_t>();
    return "<span data-json=\"alignment.offsetSamples\">" + SignedNumber(offset) +
           "</span> samples";
}

void Summary(const Json& v, std::ostream& out) {
    const bool genuine = At(v, "/inputs/reference/genuine").get<bool>();
    out << "<h2>Summary</h2>\n<dl>\n"
        << Dd("Reference",
              Text(v, "/inputs/reference/path") + " (" +
                  NumberCell(v, "/inputs/reference/bytes", false, "span") + " bytes): " +
                  (genuine ? "the genuine image" : "<strong>not the genuine image</strong>") +
                  "<br><span class=\"small\">SHA-256 " + Text(v, "/inputs/reference/sha256") +
                  "</span>")
        << Dd("Extraction", Text(v, "/inputs/extraction/path") + ", " + Text(v, "/inputs/c2/path"))
        << Dd("Read offset", SampleOffset(v) + (At(v, "/alignment/channelsSwapped").get<bool>()
                                                    ? ", <strong>left and right swapped</strong>"
                                                    : ", channels in order"))
        << Dd("Match", NumberCell(v, "/alignment/agreeingWindows", false, "span") + " of " +
                           NumberCell(v, "/alignment/probeWindows", false, "span") +
                           " probe windows agree; " +
                           NumberCell(v, "/alignment/matchShare", true, "span") +
                           " of their samples match")
        << Dd("Sectors read", NumberCell(v, "/sectors/extraction", false, "span"))
        << Dd("Sectors compared", NumberCell(v, "/sectors/compared", false, "span") +
                                      " of the reference's " +
                                      NumberCell(v, "/sectors/reference", false, "span"))
        << Dd("Extra sectors", NumberCell(v, "/sectors/extraBefore", false, "span") +
                                   " before the reference, " +
                                   NumberCell(v, "/sectors/extraAfter", false, "span") +
                                   " past its end (not compared)")
        << Dd("Missing sectors",
              NumberCell(v, "/sectors/missingAtStart", false, "span") + " at the start, " +
                  NumberCell(v, "/sectors/missingAtEnd", false, "span") + " at the end")
        << Dd("Sectors with errors", NumberCell(v, "/sectors/withErrors", false, "span"))
        << Dd("Zero-filled (unreadable)", NumberCell(v, "/zeroFilled/sectors", false, "span") +
                                              " sectors in " +
                                              std::to_string(At(v, "/zeroFilled/runs").size()) +
                                              " runs; a failed read, left out of the C2 counts")
        << "</dl>\n";
}

void TallyTable(const Json& v, std::ostream& out) {
    const std::string best = Text(v, "/c2/best/shift/text");
    out << "<h2>C2 pointers</h2>\n<div class=\"scroll\"><table>\n"
        << "<tr><th></th><th colspan=\"2\">as delivered</th><th colspan=\"2\">best alignment: "
        << best << "</th></tr>\n"
        << "<tr><th></th><th>bytes</th><th>samples</th><th>bytes</th><th>samples</th></tr>\n";
    const std::pair<const char*, const char*> rows[] = {
        {"wrong", "wrong"},
        {"flagged by C2", "flagged"},
        {"detected (wrong and flagged)", "detected"},
        {"missed (wrong, not flagged)", "missed"},
        {"false flags (flagged, not wrong)", "falseFlags"},
        {"detection rate", "detectionRate"},
        {"false-flag rate", "falseFlagRate"}};
    for (const auto& [label, field] : rows) {
        const bool rate = std::string(field).find("Rate") != std::string::npos;
        out << "<tr><td>" << label << "</td>";
        for (const char* pass : {"literal", "best"}) {
            for (const char* unit : {"bytes", "samples"}) {
                out << NumberCell(v, std::string("/c2/") + pass + "/" + unit + "/" + field, rate);
            }
        }
        out << "</tr>\n";
    }
    out << "</table></div>\n";
}

void GranularityTable(const Json& v, std::ostream& out) {
    out << "<h2>Flag granularity</h2>\n<p>Where the false flags sit, at the best alignment ("
        << Text(v, "/flagGranularity/alignment")
        << "): a drive that flags exact bytes has few beside its wrong bytes; one that flags "
           "whole samples puts them on the other byte of a wrong sample; one that flags whole "
           "sectors, elsewhere in its sectors.</p>\n<div class=\"scroll\"><table>\n";
    const std::pair<const char*, const char*> rows[] = {
        {"false flags", "falseFlags"},
        {"on the other byte of a wrong sample", "onWrongSample"},
        {"elsewhere in sectors with errors", "inSectorsWithErrors"},
        {"in sectors without errors", "inSectorsWithoutErrors"},
        {"sectors flagged whole (all 294 bytes)", "sectorsFlaggedWhole"}};
    for (const auto& [label, field] : rows) {
        out << "<tr><td>" << label << "</td>"
            << NumberCell(v, std::string("/flagGranularity/") + field) << "</tr>\n";
    }
    out << "</table></div>\n";
}

void RegionTable(const Json& v, std::ostream& out) {
    const Json& regions = At(v, "/worstRegions");
    out << "<h2>Worst regions</h2>\n";
    if (regions.empty()) {
        out << "<p>None: every sector matches the reference and nothing is flagged.</p>\n";
        return;
    }
    out << "<div class=\"scroll\"><table>\n<tr><th>sectors</th><th>time</th><th>wrong</th>"
           "<th>detected</th><th>missed</th><th>false flags</th><th>zero-filled</th></tr>\n";
    for (std::size_t i = 0; i < regions.size(); ++i) {
        const std::string at = "/worstRegions/" + std::to_string(i);
        const auto first = At(v, at + "/firstSector").get<std::int64_t>();
        const auto end = At(v, at + "/endSector").get<std::int64_t>();
        out << "<tr><td>" << NumberCell(v, at + "/firstSector", false, "span") << "&ndash;"
            << Grouped(static_cast<std::uint64_t>(end - 1)) << "</td><td>" << SectorTime(first)
            << "</td>" << NumberCell(v, at + "/wrongBytes") << NumberCell(v, at + "/detectedBytes")
            << NumberCell(v, at + "/missedBytes") << NumberCell(v, at + "/falseFlagBytes")
            << NumberCell(v, at + "/zeroFilledSectors") << "</tr>\n";
    }
    out << "</table></div>\n";
}

}  // namespace

std::string ShownNumber(const nlohmann::ordered_json& value, bool rate) {
    if (value.is_null()) {
        return "n/a";
    }
    if (rate) {
        return RateText(value.get<double>());
    }
    if (value.is_number_float()) {
        return Decimals(value.get<double>());
    }
    const auto number = value.get<std::int64_t>();
    std::string text = Grouped(static_cast<std::uint64_t>(number < 0 ? -number : number));
    if (number < 0) {
        text.insert(text.begin(), '-');
    }
    return text;
}

std::string NumberCell(const nlohmann::ordered_json& json, const std::string& path, bool rate,
                       const char* tag) {
    std::string field = path.substr(1);
    for (char& c : field) {
        c = c == '/' ? '.' : c;
    }
    return ValueCell(At(json, path), field, rate, tag);
}

std::string ValueCell(const nlohmann::ordered_json& value, const std::string& field, bool rate,
                      const char* tag) {
    return std::string("<") + tag + " data-json=\"" + field + "\">" + ShownNumber(value, rate) +
           "</" + tag + ">";
}

std::string RateCell(const std::optional<double>& rate, const std::string& field, const char* tag) {
    return ValueCell(rate ? Json(*rate) : Json(nullptr), field, true, tag);
}

void WritePageStart(const std::string& title, std::ostream& out) {
    out << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        << "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
        // Nothing may be fetched: the page is one file, kept and sent as it is.
        << "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
           "style-src 'unsafe-inline'\">\n"
        << "<title>" << XmlEscape(title) << "</title>\n<style>" << kStyle << "</style>\n"
        << "</head>\n<body>\n<h1>" << XmlEscape(title) << "</h1>\n";
}

std::string RelativeLink(const std::string& target, const std::string& pageFolder) {
    // Worked out from the names alone: a page never links to an absolute local path, and the
    // link holds whether or not the target is there yet.
    std::error_code failure;
    const auto absolute = [&](const std::string& path) {
        const std::filesystem::path full = std::filesystem::absolute(path, failure);
        return (failure ? std::filesystem::path(path) : full).lexically_normal();
    };
    std::filesystem::path link = absolute(target).lexically_relative(absolute(pageFolder));
    if (link.empty()) {
        link = std::filesystem::path(target).filename();  // another drive (Windows)
    }
    std::string href;
    for (const unsigned char c : link.generic_string()) {
        if (std::isalnum(c) ||
            std::string_view("-._~/").find(static_cast<char>(c)) != std::string_view::npos) {
            href += static_cast<char>(c);
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            href += escaped;
        }
    }
    return href;
}

void WritePageEnd(std::ostream& out) {
    out << "</body>\n</html>\n";
}

void WriteReportPage(const nlohmann::ordered_json& v, const std::string& chartSvg,
                     std::ostream& out) {
    WritePageStart("C2 report: " + At(v, "/drive").get<std::string>(), out);
    const bool clean = At(v, "/c2/literal/bytes/missed").get<std::uint64_t>() == 0;
    out << "<p class=\"headline" << (clean ? "" : " warning") << "\">"
        << NumberCell(v, "/missedPerMillion", false, "strong")
        << " missed bytes per million compared (wrong and not flagged, as delivered); detection "
        << NumberCell(v, "/c2/literal/bytes/detectionRate", true, "span") << ", false flags "
        << NumberCell(v, "/c2/literal/bytes/falseFlagRate", true, "span") << " of "
        << NumberCell(v, "/c2/literal/bytes/flagged", false, "span") << " flags.</p>\n";
    Summary(v, out);
    TallyTable(v, out);
    GranularityTable(v, out);
    RegionTable(v, out);
    // The chart without its XML declaration, which has no place inside HTML.
    const std::size_t svg = chartSvg.find("<svg");
    out << "<h2>Along the disc</h2>\n"
        << (svg == std::string::npos ? chartSvg : chartSvg.substr(svg)) << "<p class=\"small\">"
        << Text(v, "/tool/name") << " " << Text(v, "/tool/version")
        << "; the same figures are in the JSON verdict beside this page.</p>\n";
    WritePageEnd(out);
}

}  // namespace report
