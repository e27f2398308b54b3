#include "report/study.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "report/judge.h"
#include "report/output/json_verdict.h"
#include "report/output/output_file.h"
#include "report/output/ranking.h"
#include "report/output/study_page.h"

namespace report {
namespace {

using Json = nlohmann::ordered_json;

StudyPass PassFromJson(const Json& p) {
    StudyPass pass;
    pass.form = p.at("form").get<std::string>();
    if (const Json& speed = p.at("speedRequested"); !speed.is_null()) {
        pass.speedRequested = speed.get<std::string>();
    }
    pass.speedSet = p.at("speedSet").get<bool>();
    const Json& reported = p.at("speedReportedKBps");
    if (!reported.is_null()) {
        pass.speedReportedKBps = reported.get<std::int64_t>();
    }
    pass.wav = p.at("wav").get<std::string>();
    pass.c2 = p.at("c2").get<std::string>();
    pass.sectors = p.at("sectors").get<std::int64_t>();
    pass.failedSectors = p.at("failedSectors").get<std::int64_t>();
    pass.seconds = p.at("seconds").get<double>();
    pass.completed = p.at("completed").get<bool>();
    if (!p.at("error").is_null()) {
        pass.error = p.at("error").get<std::string>();
    }
    return pass;
}

// <folder>/<drive>.study.json -> <folder>/<drive>.study.html
std::string StudyPagePath(const std::string& studyPath) {
    std::filesystem::path path(studyPath);
    path.replace_extension();
    if (path.extension() != ".study") {
        path += ".study";
    }
    return path.string() + ".html";
}

std::string PassName(const StudyPass& pass) {
    return pass.form + " at " + SpeedLabel(pass.speedRequested);
}

StudyPassIdentity Identity(const StudyFile& study, const StudyPass& pass) {
    return {study.vendor,        study.product,          study.revision, pass.form,
            pass.speedRequested, pass.speedReportedKBps, pass.completed};
}

// One pass judged and its files written; its row, or the reason it has none.
int JudgeStudyPass(ReferenceImage& reference, const StudyFile& study, const StudyPass& pass,
                   const std::vector<std::string>& inputs, std::vector<RankedDrive>& rows,
                   std::vector<UnjudgedPass>& unjudged, std::ostream& out, std::ostream& err) {
    const std::filesystem::path folder = std::filesystem::path(inputs[1]).parent_path();
    const std::string wav = (folder / pass.wav).string(), c2 = (folder / pass.c2).string();
    std::ostringstream failure, files;
    Verdict verdict;
    int code = CheckNoInputOverwritten({inputs[0], inputs[1], wav, c2}, wav, failure);
    if (code == kExitOk) {
        code = JudgePass(reference, wav, c2, !pass.completed, verdict, out, failure);
    }
    if (code == kExitOk) {
        verdict.study = Identity(study, pass);
        code = WriteVerdictFiles(verdict, wav, files, failure);
    }
    std::string error;
    const std::string json = VerdictOutputs(wav)[2];
    const auto row =
        code == kExitOk
            ? RankedFromVerdict(VerdictJson(verdict, std::filesystem::path(wav).stem().string()),
                                json, error)
            : std::nullopt;
    if (!row) {
        const std::string reason = failure.str().empty() ? error + "\n" : failure.str();
        err << reason;
        unjudged.push_back(
            {pass.form, SpeedLabel(pass.speedRequested), reason.substr(0, reason.size() - 1)});
        return code == kExitOk ? kExitBadInput : code;
    }
    rows.push_back(*row);
    // In the study's own table the drive is the same on every row: the pass names it.
    rows.back().drive =
        pass.form + " " + SpeedLabel(pass.speedRequested) + (pass.completed ? "" : " (partial)");
    out << "  " << PassName(pass)
        << (pass.completed ? ""
                           : " (cut short: judged over the "
                             "sectors it holds)")
        << ": " << VerdictOutputs(wav)[3] << '\n';
    return kExitOk;
}

}  // namespace

std::optional<StudyFile> ReadStudyFile(const std::string& path, std::string& error) {
    static constexpr JsonFileKind kStudy{
        kStudyFormat, kStudyFormatVersion, "\" is not a Quellor study.",
        "\" is not a Quellor study: it is not complete JSON (truncated?).",
        "\" is a Quellor study of another format version ("};
    const auto read = ReadFormatJson(path, kStudy, error);
    if (!read) {
        return std::nullopt;
    }
    const Json& json = *read;
    try {
        StudyFile study;
        const Json& drive = json.at("drive");
        study.vendor = drive.at("vendor").get<std::string>();
        study.product = drive.at("product").get<std::string>();
        study.revision = drive.at("revision").get<std::string>();
        study.formsFound = json.at("formsFound").get<std::vector<std::string>>();
        for (const Json& pass : json.at("passes")) {
            study.passes.push_back(PassFromJson(pass));
        }
        return study;
    } catch (const nlohmann::json::exception& failure) {
        error = "\"" + path + "\" is not a complete Quellor study (" + failure.what() + ").";
        return std::nullopt;
    }
}

int RunStudy(const std::string& referencePath, const std::string& studyPath, std::ostream& out,
             std::ostream& err) {
    std::string error;
    const auto study = ReadStudyFile(studyPath, error);
    if (!study) {
        err << error << '\n';
        return kExitBadInput;
    }
    ReferenceImage reference;
    if (!OpenReference(referencePath, reference, out, err)) {
        return kExitBadInput;
    }
    const std::string drive = study->vendor + " " + study->product + " " + study->revision;
    out << "Study of " << drive << ": " << study->passes.size() << " passes\n";
    std::vector<RankedDrive> rows;
    std::vector<UnjudgedPass> unjudged;
    int code = kExitOk;
    for (const StudyPass& pass : study->passes) {
        const int passCode = JudgeStudyPass(reference, *study, pass, {referencePath, studyPath},
                                            rows, unjudged, out, err);
        code = std::max(code, passCode);
    }
    SortRanking(rows);
    WriteRankingTable(rows,
                      "Passes ranked (fewest missed bytes per million compared at the best "
                      "alignment first, then fewest false flags):",
                      out);
    for (const UnjudgedPass& pass : unjudged) {
        out << "Not judged: " << pass.form << " at " << pass.speed << ": " << pass.reason << '\n';
    }
    const std::string page = StudyPagePath(studyPath);
    const std::string pageFolder = std::filesystem::path(page).parent_path().string();
    if (!WriteWholeFile(page, [&](std::ostream& s) {
            WriteStudyPage(*study, rows, unjudged, pageFolder.empty() ? "." : pageFolder, s);
        })) {
        err << "Cannot write \"" << page << "\".\n";
        return kExitIoError;
    }
    out << "Study page:          " << page << '\n';
    return FlushConsole(out, err, "Cannot write the summary to standard output.") ? code
                                                                                  : kExitIoError;
}

}  // namespace report
