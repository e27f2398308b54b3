#include "report/verify.h"

#include <sstream>

#include "report/comparison/block_reader.h"
#include "report/judge.h"
#include "report/output/output_file.h"
#include "report/output/text.h"
#include "report/share.h"
#include "report/submission/evidence_reader.h"
#include "report/submission/submission.h"

namespace report {
namespace {

std::string PassName(const SubmissionPass& pass) {
    return "pass " + pass.form + " " + SpeedLabel(pass.speedRequested);
}

enum class Outcome { matches, differs, refused };

// Judges one pass again from its evidence; the line that says how it went goes to `out`.
Outcome VerifyPass(ReferenceImage& reference, const Submission& submission,
                   const SubmissionPass& pass, std::ostream& out) {
    const std::string name = PassName(pass);
    if (!pass.evidence) {
        out << name
            << ": not re-judgeable: its evidence was left out to keep the file under 16 MB\n";
        return Outcome::refused;
    }
    // The reader checked it already; decoded again here to be used.
    const DecodedEvidence decoded = DecodeEvidence(*pass.evidence);
    if (!decoded.evidence) {
        out << name << ": its evidence cannot be read: " << decoded.error << '\n';
        return Outcome::refused;
    }
    const Evidence& evidence = *decoded.evidence;
    RegionReader image(reference.path, reference.layout.dataStart, reference.layout.dataBytes);
    EvidenceAudio audio(evidence, image);
    EvidencePointers pointers(evidence);
    Verdict verdict;
    std::ostringstream failure;
    if (JudgeStreams(reference, {audio, pointers, evidence.sectors}, !pass.completed, verdict,
                     failure) != kExitOk) {
        out << name << ": cannot be judged again: " << ConsoleText(failure.str());
        return Outcome::refused;
    }
    if (verdict.referenceSha256 != submission.reference.sha256) {
        out << name << ": " << Quoted(reference.path)
            << " is not the reference the submission was judged against\n";
        return Outcome::refused;
    }
    // Evidence and hashes must agree: the files the evidence rebuilds are those recorded.
    const auto digests = RebuiltDigests(evidence, image);
    if (!digests) {
        out << name << ": cannot read the reference\n";
        return Outcome::refused;
    }
    if (digests->wavSha256 != pass.wavSha256 || digests->c2Sha256 != pass.c2Sha256) {
        out << name << ": its evidence does not rebuild the files it names ("
            << (digests->wavSha256 != pass.wavSha256 ? "wavSha256" : "c2Sha256") << " differs)\n";
        return Outcome::refused;
    }
    const std::string differences = Differences(pass.figures, FiguresOf(verdict));
    if (!differences.empty()) {
        out << name << ": " << differences << '\n';
        return Outcome::differs;
    }
    out << name << ": every number matches\n";
    return Outcome::matches;
}

}  // namespace

int RunVerify(const std::string& referencePath, const std::string& submissionPath,
              std::ostream& out, std::ostream& err) {
    std::string error;
    const auto submission = ReadSubmission(submissionPath, error);
    if (!submission) {
        err << error << '\n';
        return kExitBadInput;
    }
    ReferenceImage reference;
    if (!OpenReference(referencePath, reference, out, err)) {
        return kExitBadInput;
    }
    std::size_t matching = 0;
    for (const SubmissionPass& pass : submission->passes) {
        matching += VerifyPass(reference, *submission, pass, out) == Outcome::matches ? 1 : 0;
    }
    out << matching << " of " << submission->passes.size() << " passes match.\n";
    if (!FlushConsole(out, err, "Cannot write the summary to standard output.")) {
        return kExitIoError;
    }
    return matching == submission->passes.size() ? kExitOk : kExitBadInput;
}

}  // namespace report
