// A study made shareable: `<drive>.submission.json` beside the study page, with each judged
// pass's figures, its files' hashes and the evidence to judge it again.
#pragma once

#include <ostream>
#include <string>

#include "report/judge.h"
#include "report/study.h"
#include "report/submission/submission.h"

namespace report {

// <folder>/<drive>.study.json -> <folder>/<drive>, which the study's own outputs extend.
[[nodiscard]] std::string StudyDrivePath(const std::string& studyPath);

// <folder>/<drive>.study.json -> <folder>/<drive>.submission.json
[[nodiscard]] std::string SubmissionPath(const std::string& studyPath);

// The numbers of a verdict as a submission states them.
[[nodiscard]] SubmissionFigures FiguresOf(const Verdict& verdict);

// The submission's drive and tool, and the month it is made in; its reference and passes are
// added as the passes are judged.
[[nodiscard]] Submission StartSubmission(const StudyFile& study);

// Adds a judged pass, its evidence built from its files. False, with the sentence in `error`,
// when they could not be read.
[[nodiscard]] bool SharePass(const ReferenceImage& reference, const StudyPass& pass,
                             const Verdict& verdict, const PassFileDigests& digests,
                             const std::string& wav, const std::string& c2, Submission& submission,
                             std::string& error);

// Writes the submission to `path`, after reading its text back as anyone else would, and names
// it on `out`.
[[nodiscard]] int WriteSubmission(Submission& submission, const std::string& path,
                                  std::ostream& out, std::ostream& err);

}  // namespace report
