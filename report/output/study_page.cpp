#include "report/output/study_page.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "report/output/html_page.h"
#include "report/output/json_verdict.h"
#include "report/output/text.h"

namespace report {
namespace {

void JudgedCell(const RankedDrive& row, const std::string& pageFolder, std::ostream& out) {
    out << "<td class=\"cell\" data-verdict=\"" << XmlEscape(row.verdictPath) << "\"><a href=\""
        << RelativeLink(row.pagePath, pageFolder) << "\">"
        << ValueCell(row.missedPerMillion, "c2.best.missedPerMillion", false, "strong")
        << "</a> missed/million<br>"
        << RateCell(row.falseFlagRate, "c2.best.bytes.falseFlagRate", "span") << " false flags<br>"
        << RateCell(row.detectionRate, "c2.best.bytes.detectionRate", "span")
        << " detected<br>C2: " << (row.moved ? "* " : "") << XmlEscape(row.c2Alignment) << "<br>"
        << ValueCell(row.unreadableSectors, "zeroFilled.sectors", false, "span") << " unreadable"
        << (row.partial ? "<br><em>partial: cut short</em>" : "") << "</td>";
}

void Matrix(const StudyFile& study, const std::vector<RankedDrive>& ranked,
            const std::vector<UnjudgedPass>& unjudged, const std::string& pageFolder,
            std::ostream& out) {
    // Each cell found in one look-up: a study may hold many passes.
    std::vector<std::string> forms, speeds;
    std::unordered_set<std::string> seenForms, seenSpeeds;
    auto addOnce = [](std::vector<std::string>& names, std::unordered_set<std::string>& seen,
                      const std::string& name) {
        if (seen.insert(name).second) {
            names.push_back(name);
        }
    };
    for (const std::string& form : study.formsFound) {
        addOnce(forms, seenForms, form);
    }
    for (const StudyPass& pass : study.passes) {
        addOnce(forms, seenForms, pass.form);
        addOnce(speeds, seenSpeeds, SpeedLabel(pass.speedRequested));
    }
    std::unordered_map<std::string, const RankedDrive*> judged;
    for (const RankedDrive& row : ranked) {
        judged.emplace(row.form + '\n' + row.speed, &row);
    }
    std::unordered_map<std::string, const UnjudgedPass*> failed;
    for (const UnjudgedPass& pass : unjudged) {
        failed.emplace(pass.form + '\n' + pass.speed, &pass);
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
            const std::string cell = form + '\n' + speed;
            if (const auto row = judged.find(cell); row != judged.end()) {
                JudgedCell(*row->second, pageFolder, out);
                continue;
            }
            const auto why = failed.find(cell);
            out << "<td class=\"cell\">"
                << (why == failed.end()
                        ? "not read"
                        : "<strong>not judged</strong>: " + XmlEscape(why->second->reason))
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
