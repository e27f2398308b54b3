#include "report/output/ranking.h"

#include <algorithm>
#include <filesystem>
#include <span>
#include <tuple>
#include <unordered_map>

#include "report/comparison/cd_format.h"
#include "report/input/input_file.h"
#include "report/judge.h"
#include "report/output/html_page.h"
#include "report/output/json_verdict.h"
#include "report/output/output_file.h"
#include "report/output/text.h"
#include "runtime/sha256.h"

namespace report {
namespace {

using Json = nlohmann::ordered_json;

constexpr JsonFormat kVerdictFile{
    kVerdictFormat, kVerdictFormatVersion, " is not a c2report verdict.",
    " is a c2report verdict of another format version (", " is not a usable c2report verdict: "};
constexpr std::int64_t kMaxBytes = kMaxDiscSectors * kSectorBytes;
constexpr std::int64_t kMaxPointerBits = kMaxDiscSectors * kC2Bytes * 8;
constexpr std::int64_t kMaxSamples = kMaxDiscSectors * kSectorBytes / 4;

std::optional<double> OptionalRate(const JsonField& bytes, const char* name) {
    const auto rate = bytes.Optional(name);
    return rate ? std::optional(rate->Number(0, 1, "a rate from 0 to 1")) : std::nullopt;
}

double PerMillionField(const JsonField& field) {
    return field.Number(0, 1e6, "a count per million");
}

std::string Column(const std::string& text, std::size_t width, bool right) {
    const std::string pad(width > text.size() ? width - text.size() : 0, ' ');
    return right ? pad + text : text + pad;
}

// "<folder>/<name>.report.json" -> "<folder>/<name>.report.html".
std::string PageOf(const std::string& verdictPath) {
    std::filesystem::path path(verdictPath);
    return path.replace_extension(".html").string();
}

// A study verdict's row: "<vendor> <product> <revision> <form> <speed>", partial ones marked.
void NameStudyRow(const JsonField& study, RankedDrive& d) {
    std::string name;
    for (const char* field : {"vendor", "product", "revision", "form"}) {
        const std::string part = study.Member(field).String(64);
        if (!part.empty()) {
            name += (name.empty() ? "" : " ") + part;
        }
    }
    const auto requested = study.Optional("speedRequested");
    d.form = study.Member("form").String(64);
    d.speed = SpeedLabel(requested ? std::optional(requested->String(16)) : std::nullopt);
    const auto completed = study.Optional("completed");
    d.partial = completed && !completed->Boolean();
    d.drive = name + (name.empty() ? "" : " ") + d.speed + (d.partial ? " (partial)" : "");
}

std::string Sha256Field(const JsonField& field) {
    std::string hash = field.String(64);
    if (hash.size() != 64 || hash.find_first_not_of("0123456789abcdef") != std::string::npos) {
        field.Refuse("is not a SHA-256 (64 lower-case hex digits)");
    }
    return hash;
}

RankedDrive RowFromVerdict(const JsonField& v, const std::string& path) {
    RankedDrive d;
    d.verdictPath = path;
    d.pagePath = PageOf(path);
    if (const auto study = v.Optional("study")) {
        NameStudyRow(*study, d);
    } else {
        d.drive = v.Member("drive").String(256);
    }
    d.bytesCompared = static_cast<std::uint64_t>(
        v.Member("bytesCompared").Integer(0, kMaxBytes, "a count of bytes compared"));
    d.literalMissedPerMillion = PerMillionField(v.Member("missedPerMillion"));
    const JsonField c2 = v.Member("c2");
    d.literalFalseFlagRate = OptionalRate(c2.Member("literal").Member("bytes"), "falseFlagRate");
    const JsonField best = c2.Member("best");
    const JsonField bytes = best.Member("bytes");
    d.falseFlagRate = OptionalRate(bytes, "falseFlagRate");
    d.detectionRate = OptionalRate(bytes, "detectionRate");
    d.missedBytes = static_cast<std::uint64_t>(bytes.Member("missed").Integer(
        0, static_cast<std::int64_t>(d.bytesCompared), "a count of the bytes compared"));
    // Verdicts written before the best alignment had its own figure: the same sum.
    const auto bestPerMillion = best.Optional("missedPerMillion");
    d.missedPerMillion = bestPerMillion ? PerMillionField(*bestPerMillion)
                                        : PerMillion(d.missedBytes, d.bytesCompared);
    const JsonField shift = best.Member("shift");
    d.moved = shift.Member("pointerBits")
                  .Integer(-kMaxPointerBits, kMaxPointerBits, "a shift in pointer bits") != 0;
    d.c2Alignment = shift.Member("text").String(128);
    d.offsetSamples = v.Member("alignment")
                          .Member("offsetSamples")
                          .Integer(-kMaxSamples, kMaxSamples, "a read offset");
    d.unreadableSectors =
        v.Member("zeroFilled").Member("sectors").Integer(0, kMaxDiscSectors, "a sector count");
    d.referenceSha256 = Sha256Field(v.Member("inputs").Member("reference").Member("sha256"));
    return d;
}

const char* const kMovedMark = "* ";

}  // namespace

std::optional<RankedDrive> RankedFromVerdict(const ReadJson& v, const std::string& path,
                                             std::string& error) {
    return DecodeJson(
        v, path, kVerdictFile, [&](const JsonField& root) { return RowFromVerdict(root, path); },
        error);
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
        nameWidth = std::max(nameWidth, ConsoleText(d.drive).size());
    }
    out << heading << '\n'
        << "     " << std::string(nameWidth, ' ')
        << "  ---------- best alignment ------------  --- as delivered ----\n"
        << Column("#", 3, true) << "  " << Column("drive", nameWidth, false)
        << "  missed/million  false flags  detection  missed/million  false flags  offset  "
           "unreadable  C2 alignment\n";
    for (std::size_t i = 0; i < drives.size(); ++i) {
        const RankedDrive& d = drives[i];
        out << Column(std::to_string(i + 1), 3, true) << "  "
            << Column(ConsoleText(d.drive), nameWidth, false) << "  "
            << Column(Decimals(d.missedPerMillion), 14, true) << "  "
            << Column(RateText(d.falseFlagRate), 11, true) << "  "
            << Column(RateText(d.detectionRate), 9, true) << "  "
            << Column(Decimals(d.literalMissedPerMillion), 14, true) << "  "
            << Column(RateText(d.literalFalseFlagRate), 11, true) << "  "
            << Column(SignedNumber(d.offsetSamples), 6, true) << "  "
            << Column(Grouped(static_cast<std::uint64_t>(d.unreadableSectors)), 10, true) << "  "
            << (d.moved ? kMovedMark : "") << ConsoleText(d.c2Alignment) << '\n';
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
        out << "<tr data-verdict=\"" << XmlEscape(d.verdictPath) << "\"><td>" << i + 1
            << "</td><td class=\"name\"><a href=\"" << RelativeLink(d.pagePath, pageFolder) << "\">"
            << XmlEscape(d.drive) << "</a></td>"
            << ValueCell(d.missedPerMillion, "c2.best.missedPerMillion")
            << RateCell(d.falseFlagRate, "c2.best.bytes.falseFlagRate")
            << RateCell(d.detectionRate, "c2.best.bytes.detectionRate")
            << ValueCell(d.literalMissedPerMillion, "missedPerMillion")
            << RateCell(d.literalFalseFlagRate, "c2.literal.bytes.falseFlagRate")
            << ValueCell(d.offsetSamples, "alignment.offsetSamples")
            << ValueCell(d.unreadableSectors, "zeroFilled.sectors") << "<td class=\"name\">"
            << (d.moved ? kMovedMark : "") << XmlEscape(d.c2Alignment) << "</td></tr>\n";
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

std::optional<RankedDrive> ReadVerdictRow(const std::string& path, std::string& error,
                                          std::string* sha256) {
    const JsonLimits limits;
    const auto text = ReadSmallInput(path, limits.maxBytes, error);
    if (!text) {
        return std::nullopt;
    }
    if (sha256 != nullptr) {
        *sha256 = runtime::Sha256Hex(
            std::span(reinterpret_cast<const std::uint8_t*>(text->data()), text->size()));
    }
    const auto json = ParseFormatJson(path, *text, limits, kVerdictFile, error);
    return json ? RankedFromVerdict(*json, path, error) : std::nullopt;
}

int RunCompare(const std::vector<std::string>& paths, std::ostream& out, std::ostream& err) {
    if (paths.empty()) {
        err << "Usage : c2report --compare <drive>.report.json ...\n";
        return kExitBadInput;
    }
    const std::pair<std::string, void (*)(const std::vector<RankedDrive>&, std::ostream&)>
        outputs[] = {{"comparison.csv", WriteRankingCsv}, {"comparison.html", WriteRankingPage}};
    OutputPlan plan;
    for (const std::string& path : paths) {
        plan.AddInput(path);
    }
    for (const auto& output : outputs) {
        plan.AddOutput(output.first);
    }
    if (const int code = RefuseClashes(plan, err); code != kExitOk) {
        return code;
    }
    std::vector<RankedDrive> drives;
    drives.reserve(paths.size());
    std::unordered_map<std::string, std::string> seen;
    for (const std::string& path : paths) {
        std::string error, sha256;
        auto drive = ReadVerdictRow(path, error, &sha256);
        if (!drive) {
            err << error << '\n';
            return kExitBadInput;
        }
        // The same file twice (by its content, whatever its name) would rank one drive twice.
        if (const auto [first, fresh] = seen.emplace(sha256, path); !fresh) {
            err << Quoted(path) << " repeats " << Quoted(first->second)
                << " (the same verdict): each drive is ranked once.\n";
            return kExitBadInput;
        }
        if (!drives.empty() && drive->referenceSha256 != drives.front().referenceSha256) {
            err << Quoted(path) << " and " << Quoted(drives.front().verdictPath)
                << " were made against different references (SHA-256 "
                << drive->referenceSha256.substr(0, 16) << "... and "
                << drives.front().referenceSha256.substr(0, 16)
                << "...): their drives cannot be ranked together.\n";
            return kExitBadInput;
        }
        drives.push_back(std::move(*drive));
    }
    SortRanking(drives);
    WriteRankingTable(drives,
                      "Ranking of " + std::to_string(drives.size()) +
                          (drives.size() == 1 ? " drive" : " drives") +
                          " (fewest missed bytes per million compared at the best alignment "
                          "first, then fewest false flags):",
                      out);
    for (const auto& [path, write] : outputs) {
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
