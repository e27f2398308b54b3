#include "report/study.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <sstream>
#include <string_view>
#include <unordered_map>

#include "report/comparison/cd_format.h"
#include "report/input/json_file.h"
#include "report/input/shared_fields.h"
#include "report/judge.h"
#include "report/output/json_verdict.h"
#include "report/output/output_file.h"
#include "report/output/ranking.h"
#include "report/output/study_page.h"
#include "report/output/text.h"
#include "report/share.h"

namespace report {
namespace {

constexpr std::size_t kMaxName = 255;          // a file name, as file systems allow
constexpr std::int64_t kMostStudyTimes = 371;  // the fastest speed Quellor asks for
// Quellor writes a pass's files beside the study file under plain names; a folder, an absolute
// path or ".." would let the study file choose where c2report writes.
std::string PlainName(const JsonField& field) {
    std::string name = field.String(kMaxName);
    const std::filesystem::path path(name);
    if (name.empty() || name == "." || name == ".." ||
        name.find_first_of("/\\") != std::string::npos || path.has_root_path()) {
        field.Refuse("is not a plain file name: a pass's files lie beside the study file");
    }
    return name;
}

StudyPass PassFromJson(const JsonField& p) {
    StudyPass pass;
    pass.form = PassForm(p.Member("form"));
    if (const auto speed = p.Optional("speedRequested")) {
        pass.speedRequested = PassSpeed(*speed, kMostStudyTimes);
    }
    pass.speedSet = p.Member("speedSet").Boolean();
    if (const auto reported = p.Optional("speedReportedKBps")) {
        pass.speedReportedKBps = reported->Integer(0, 65'535, "a speed in kB/s");
    }
    pass.wav = PlainName(p.Member("wav"));
    pass.c2 = PlainName(p.Member("c2"));
    pass.sectors = p.Member("sectors").Integer(0, kMaxDiscSectors, "a sector count");
    pass.failedSectors =
        p.Member("failedSectors").Integer(0, pass.sectors, "a count of the pass's sectors");
    pass.seconds = p.Member("seconds").Number(0, 1e9, "a duration in seconds");
    pass.completed = p.Member("completed").Boolean();
    if (const auto error = p.Optional("error")) {
        pass.error = error->String(4096);
    }
    if (const auto measured = p.Optional("measuredKBps")) {
        pass.measuredKBps = measured->Number(0, 1e9, "a speed in kB/s");
    }
    return pass;
}

// Each (form, speed) once and each file in one pass only: a repeat would be judged twice and
// its verdict written over the first.
void CheckPassesApart(const std::vector<JsonField>& fields, const std::vector<StudyPass>& passes) {
    std::unordered_map<std::string, std::size_t> readings, files;
    for (std::size_t i = 0; i < passes.size(); ++i) {
        const StudyPass& pass = passes[i];
        const auto [reading, fresh] =
            readings.emplace(pass.form + " at " + SpeedLabel(pass.speedRequested), i);
        if (!fresh) {
            fields[i].Refuse("reads " + ConsoleText(reading->first) + " again, as " +
                             fields[reading->second].Path() + " does");
        }
        for (const char* key : {"wav", "c2"}) {
            const std::string& name = std::string_view(key) == "wav" ? pass.wav : pass.c2;
            if (const auto [file, added] = files.emplace(name, i); !added) {
                fields[i].Member(key).Refuse("is also a file of " + fields[file->second].Path() +
                                             ": each file belongs to one pass");
            }
        }
    }
}

StudyFile StudyFromJson(const JsonField& json) {
    StudyFile study;
    const JsonField drive = json.Member("drive");
    study.vendor = drive.Member("vendor").String(64);
    study.product = drive.Member("product").String(64);
    study.revision = drive.Member("revision").String(64);
    if (const auto text = drive.Optional("vendorSpecific")) {
        study.vendorSpecific = Printable(*text, 20);
    }
    if (const auto unit = drive.Optional("unit")) {
        study.unit = Sha256Hex(*unit);
    }
    if (const auto transport = drive.Optional("transport")) {
        study.transport = Transport(*transport);
    }
    for (const JsonField& form : json.Member("formsFound").Elements(kPassForms.size())) {
        study.formsFound.push_back(PassForm(form));
    }
    const JsonField passes = json.Member("passes");
    const std::vector<JsonField> fields = passes.Elements(std::numeric_limits<std::size_t>::max());
    if (fields.empty()) {
        passes.Refuse("holds no pass: a study that read nothing cannot be judged");
    }
    study.passes.reserve(fields.size());
    for (const JsonField& pass : fields) {
        study.passes.push_back(PassFromJson(pass));
    }
    CheckPassesApart(fields, study.passes);
    return study;
}

// <folder>/<drive>.study.json -> <folder>/<drive>.study.html
std::string StudyPagePath(const std::string& studyPath) {
    return StudyDrivePath(studyPath) + ".study.html";
}

std::string PassName(const StudyPass& pass) {
    return pass.form + " at " + SpeedLabel(pass.speedRequested);
}

StudyPassIdentity Identity(const StudyFile& study, const StudyPass& pass) {
    return {study.vendor,        study.product,          study.revision, pass.form,
            pass.speedRequested, pass.speedReportedKBps, pass.completed};
}

// A pass's files, beside the study file.
struct PassFiles {
    std::string wav, c2;
};

PassFiles FilesOf(const std::string& studyPath, const StudyPass& pass) {
    const std::filesystem::path folder = std::filesystem::path(studyPath).parent_path();
    return {(folder / pass.wav).string(), (folder / pass.c2).string()};
}

// Everything the study reads and writes, declared before anything is written.
OutputPlan PlanStudy(const std::string& referencePath, const std::string& studyPath,
                     const StudyFile& study) {
    OutputPlan plan;
    plan.AddInput(referencePath);
    plan.AddInput(studyPath);
    for (const StudyPass& pass : study.passes) {
        const PassFiles files = FilesOf(studyPath, pass);
        plan.AddInput(files.wav);
        plan.AddInput(files.c2);
    }
    for (const StudyPass& pass : study.passes) {
        for (const std::string& output : VerdictOutputs(FilesOf(studyPath, pass).wav)) {
            plan.AddOutput(output);
        }
    }
    plan.AddOutput(StudyPagePath(studyPath));
    plan.AddOutput(SubmissionPath(studyPath));
    return plan;
}

// One pass judged and its files written; its row, or the reason it has none.
int JudgeStudyPass(ReferenceImage& reference, const StudyFile& study, const StudyPass& pass,
                   const std::string& studyPath, std::vector<RankedDrive>& rows,
                   std::vector<UnjudgedPass>& unjudged, Submission& submission, std::ostream& out,
                   std::ostream& err) {
    const PassFiles in = FilesOf(studyPath, pass);
    std::ostringstream failure, files;
    Verdict verdict;
    PassFileDigests digests;
    int code =
        JudgePass(reference, in.wav, in.c2, !pass.completed, verdict, out, failure, &digests);
    std::string error;
    if (code == kExitOk) {
        verdict.study = Identity(study, pass);
        code = WriteVerdictFiles(verdict, in.wav, files, failure);
    }
    if (code == kExitOk &&
        !SharePass(reference, pass, verdict, digests, in.wav, in.c2, submission, error)) {
        failure << error << '\n';
        code = kExitIoError;
    }
    const std::string json = VerdictOutputs(in.wav)[2];
    const auto row =
        code == kExitOk
            ? RankedFromVerdict(
                  ReadJson(VerdictJson(verdict, std::filesystem::path(in.wav).stem().string())),
                  json, error)
            : std::nullopt;
    if (!row) {
        const std::string reason = failure.str().empty() ? error + "\n" : failure.str();
        err << ConsoleText(reason, true);
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
        << ": " << ConsoleText(VerdictOutputs(in.wav)[3]) << '\n';
    return kExitOk;
}

}  // namespace

std::optional<StudyFile> ReadStudyFile(const std::string& path, std::string& error) {
    static constexpr JsonFormat kStudy{
        kStudyFormat, kStudyFormatVersion, " is not a Quellor study.",
        " is a Quellor study of another format version (", " is not a usable Quellor study: "};
    const auto json = ReadFormatJson(path, kStudy, error);
    if (!json) {
        return std::nullopt;
    }
    return DecodeJson(*json, path, kStudy, StudyFromJson, error);
}

int RunStudy(const std::string& referencePath, const std::string& studyPath, std::ostream& out,
             std::ostream& err) {
    std::string error;
    const auto study = ReadStudyFile(studyPath, error);
    if (!study) {
        err << error << '\n';
        return kExitBadInput;
    }
    if (const int code = RefuseClashes(PlanStudy(referencePath, studyPath, *study), err);
        code != kExitOk) {
        return code;
    }
    ReferenceImage reference;
    if (!OpenReference(referencePath, reference, out, err)) {
        return kExitBadInput;
    }
    const std::string drive = study->vendor + " " + study->product + " " + study->revision;
    out << "Study of " << ConsoleText(drive) << ": " << study->passes.size() << " passes\n";
    std::vector<RankedDrive> rows;
    std::vector<UnjudgedPass> unjudged;
    int code = kExitOk;
    Submission submission = StartSubmission(*study);
    for (const StudyPass& pass : study->passes) {
        const int passCode = JudgeStudyPass(reference, *study, pass, studyPath, rows, unjudged,
                                            submission, out, err);
        code = std::max(code, passCode);
    }
    SortRanking(rows);
    WriteRankingTable(rows,
                      "Passes ranked (fewest missed bytes per million compared at the best "
                      "alignment first, then fewest false flags):",
                      out);
    for (const UnjudgedPass& pass : unjudged) {
        out << "Not judged: " << pass.form << " at " << pass.speed << ": "
            << ConsoleText(pass.reason, true) << '\n';
    }
    const std::string page = StudyPagePath(studyPath);
    const std::string pageFolder = std::filesystem::path(page).parent_path().string();
    if (!WriteWholeFile(page, [&](std::ostream& s) {
            WriteStudyPage(*study, rows, unjudged, pageFolder.empty() ? "." : pageFolder, s);
        })) {
        err << "Cannot write " << Quoted(page) << ".\n";
        return kExitIoError;
    }
    out << "Study page:          " << ConsoleText(page) << '\n';
    // A submission states every pass of the study, so one with a pass not judged is not made.
    if (unjudged.empty()) {
        code = std::max(code, WriteSubmission(submission, SubmissionPath(studyPath), out, err));
    } else {
        out << "No submission to share: not every pass could be judged.\n";
    }
    return FlushConsole(out, err, "Cannot write the summary to standard output.") ? code
                                                                                  : kExitIoError;
}

}  // namespace report
