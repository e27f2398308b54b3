#include "report/output/study_page.h"

#include <algorithm>

#include "report/output/html_page.h"
#include "report/output/json_verdict.h"
#include "report/output/text.h"

namespace report {
namespace {

using Json = nlohmann::ordered_json;

// Each name once, in the order first seen.
void AddOnce(std::vector<std::string>& names, const std::string& name) {
    if (std::find(names.begin(), names.end(), name) == names.end()) {
        names.push_back(name);
    }
}

const RankedDrive* Judged(const std::vector<RankedDrive>& ranked, const std::string& form,
                          const std::string& speed) {
    for (const RankedDrive& row : ranked) {
        const Json& study = row.verdict.at("study");
        if (study.at("form") == form && StudySpeedLabel(study) == speed) {
            return &row;
        }
    }
    return nullptr;
}

void JudgedCell(const RankedDrive& row, const std::string& pageFolder, std::ostream& out) {
    const Json& v = row.verdict;
    out << "<td class=\"cell\" data-verdict=\"" << XmlEscape(row.verdictPath) << "\"><a href=\""
        << RelativeLink(row.pagePath, pageFolder) << "\">"
        << NumberCell(v, "/c2/best/missedPerMillion", false, "strong") << "</a> missed/million<br>"
        << NumberCell(v, "/c2/best/bytes/falseFlagRate", true, "span") << " false flags<br>"
        << NumberCell(v, "/c2/best/bytes/detectionRate", true, "span")
        << " detected<br>C2: " << (row.moved ? "* " : "") << XmlEscape(row.c2Alignment) << "<br>"
        << NumberCell(v, "/zeroFilled/sectors", false, "span") << " unreadable"
        << (row.partial ? "<br><em>partial: cut short</em>" : "") << "</td>";
}

void Matrix(const StudyFile& study, const std::vector<RankedDrive>& ranked,
            const std::vector<UnjudgedPass>& unjudged, const std::string& pageFolder,
            std::ostream& out) {
    std::vector<std::string> forms = study.formsFound, speeds;
    for (const StudyPass& pass : study.passes) {
        AddOnce(forms, pass.form);
        AddOnce(speeds, SpeedLabel(pass.speedRequested));
    }
    out << "<h2>Passes: forms down, speeds across</h2>\n<div class=\"scroll\"><table "
           "class=\"matrix\">\n<tr><th>form</th>";
    for (const std::string& speed : speeds) {
        out << "<th>" << XmlEscape(speed) << "</th>";
    }
    out << "</tr>\n";
    for (const std::string& form : forms) {
        out << "<tr><th>" << XmlEscape(form) << "</th>";
        for (const std::string& speed : speeds) {
            if (const RankedDrive* row = Judged(ranked, form, speed)) {
                JudgedCell(*row, pageFolder, out);
                continue;
            }
            const auto failed = std::find_if(unjudged.begin(), unjudged.end(), [&](auto& u) {
                return u.form == form && u.speed == speed;
            });
            out << "<td class=\"cell\">"
                << (failed == unjudged.end()
                        ? "not read"
                        : "<strong>not judged</strong>: " + XmlEscape(failed->reason))
                << "</td>";
        }
        out << "</tr>\n";
    }
    out << "</table></div>\n";
}

}  // namespace

void WriteStudyPage(const StudyFile& study, const std::vector<RankedDrive>& ranked,
                    const std::vector<UnjudgedPass>& unjudged, const std::string& pageFolder,
                    std::ostream& out) {
    WritePageStart("C2 study: " + study.vendor + " " + study.product + " " + study.revision, out);
    out << "<dl>\n<dt>Vendor</dt><dd>" << XmlEscape(study.vendor) << "</dd>\n<dt>Product</dt><dd>"
        << XmlEscape(study.product) << "</dd>\n<dt>Revision</dt><dd>" << XmlEscape(study.revision)
        << "</dd>\n<dt>Forms found</dt><dd>";
    for (std::size_t i = 0; i < study.formsFound.size(); ++i) {
        out << (i == 0 ? "" : ", ") << XmlEscape(study.formsFound[i]);
    }
    out << "</dd>\n</dl>\n<p>Each cell is one pass, judged at the best alignment of its "
           "pointers (what a ripper that applies the drive's lag would trust): missed bytes per "
           "million compared, false-flag rate, detection rate, the alignment (* where it is not "
           "the pointers as delivered) and the unreadable sectors. A cell links to its pass's "
           "report page.</p>\n";
    Matrix(study, ranked, unjudged, pageFolder, out);
    out << "<h2>Passes ranked</h2>\n<p>Fewest missed bytes per million compared at the best "
           "alignment first, then fewest false flags; the pointers as delivered beside.</p>\n";
    WriteRankingHtmlTable(ranked, pageFolder, out);
    WritePageEnd(out);
}

}  // namespace report
