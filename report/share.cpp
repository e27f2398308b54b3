#include "report/share.h"

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "report/comparison/block_reader.h"
#include "report/comparison/cd_format.h"
#include "report/comparison/wav_input.h"
#include "report/output/json_verdict.h"
#include "report/output/output_file.h"
#include "report/output/text.h"
#include "report/submission/evidence.h"

#ifndef MARROWBY_VERSION
#define MARROWBY_VERSION "unknown"
#endif

namespace report {
namespace {

SubmissionCounts CountsOf(const C2Shift& shift, const Tally& bytes) {
    return {shift.bits,     bytes.wrong,    bytes.flagged,
            bytes.detected, bytes.Missed(), bytes.FalseFlags()};
}

// "2026-12": the month, and nothing finer, of the clock's date in UTC.
std::string ThisMonth() {
    const std::chrono::year_month_day today{
        std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now())};
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02u", static_cast<int>(today.year()),
                  static_cast<unsigned>(today.month()));
    return text;
}

}  // namespace

std::string StudyDrivePath(const std::string& studyPath) {
    std::filesystem::path path(studyPath);
    path.replace_extension();
    if (path.extension() == ".study") {
        path.replace_extension();
    }
    return path.string();
}

std::string SubmissionPath(const std::string& studyPath) {
    return StudyDrivePath(studyPath) + ".submission.json";
}

SubmissionFigures FiguresOf(const Verdict& v) {
    const FlagGranularity& g = v.Best().granularity;
    SubmissionFigures f;
    f.sectorsCompared = v.coverage.Compared();
    f.zeroFilledSectors = v.literal.zeroFilledSectors;
    f.bytesCompared = BytesCompared(v);
    f.offsetSamples = v.alignment.offsetFrames;
    f.best = CountsOf(v.best.shift, v.Best().bytes);
    f.asDelivered = CountsOf(C2Shift{}, v.literal.bytes);
    f.granularity = {g.onWrongSample, g.inSectorWithErrors, g.inSectorWithoutErrors,
                     g.sectorsFlaggedWhole};
    return f;
}

Submission StartSubmission(const StudyFile& study) {
    Submission s;
    s.toolVersion = MARROWBY_VERSION;
    s.platform = SubmissionPlatform();
    s.drive = {study.vendor,         study.product, study.revision,
               study.vendorSpecific, study.unit,    study.transport};
    s.month = ThisMonth();
    return s;
}

bool SharePass(const ReferenceImage& reference, const StudyPass& pass, const Verdict& verdict,
               const PassFileDigests& digests, const std::string& wav, const std::string& c2,
               Submission& submission, std::string& error) {
    submission.reference = {verdict.referenceSha256, verdict.reference.bytes,
                            verdict.genuineReference};
    const auto layout = OpenCdWav(wav, error);
    if (!layout) {
        return false;
    }
    RegionReader image(reference.path, reference.layout.dataStart, reference.layout.dataBytes);
    RegionReader audio(wav, layout->dataStart, layout->dataBytes);
    RegionReader pointers(c2, 0, verdict.c2.bytes);
    const auto sectors = static_cast<std::int64_t>(layout->dataBytes / kSectorBytes);
    const BuiltEvidence built =
        image.IsOpen() && audio.IsOpen() && pointers.IsOpen()
            ? BuildEvidence({&image, &audio, &pointers, verdict.alignment.offsetFrames, sectors})
            : BuiltEvidence{EvidenceStatus::readError, {}};
    if (built.status == EvidenceStatus::readError) {
        error = "Cannot read " + Quoted(wav) + " for its evidence.";
        return false;
    }
    SubmissionPass& shared = submission.passes.emplace_back();
    shared.form = pass.form;
    shared.speedRequested = pass.speedRequested;
    shared.speedReportedKBps = pass.speedReportedKBps;
    shared.completed = pass.completed;
    shared.wavSha256 = digests.wavSha256;
    shared.c2Sha256 = digests.c2Sha256;
    shared.figures = FiguresOf(verdict);
    shared.measuredKBps = pass.measuredKBps;
    if (built.status == EvidenceStatus::built) {
        shared.evidence = built.text;
    }
    shared.evidenceOmitted = !shared.evidence;
    return true;
}

int WriteSubmission(Submission& submission, const std::string& path, std::ostream& out,
                    std::ostream& err) {
    const std::string text = SubmissionText(submission);
    // What anyone else's reader would refuse is not shared: the file is read back first.
    std::string refused;
    if (!ParseSubmission(path, text, refused)) {
        err << "No submission written: " << refused << '\n';
        return kExitBadInput;
    }
    if (!WriteWholeFile(path, [&](std::ostream& s) { s << text; })) {
        err << "Cannot write " << Quoted(path) << ".\n";
        return kExitIoError;
    }
    out << "Submission to share: " << ConsoleText(path) << ", "
        << Grouped((text.size() + 999) / 1000) << " kB, no file names or paths of yours\n";
    return kExitOk;
}

}  // namespace report
