// The steps of one verdict, shared by a plain run and a study: check the files, align, compare,
// and write the verdict's files beside the drive's WAV.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "report/comparison/block_reader.h"
#include "report/comparison/wav_input.h"
#include "report/output/output_file.h"
#include "report/output/summary.h"

namespace report {

inline constexpr int kExitOk = 0;
inline constexpr int kExitBadInput = 1;  // usage, a missing or unfit file, no offset fits
inline constexpr int kExitIoError = 2;   // a read or write failed on the way

// The reference image, checked once; its SHA-256 is taken by the first comparison that reads
// it and reused by every later one.
struct ReferenceImage {
    std::string path;
    WavLayout layout;
    std::string sha256;  // empty until a comparison has hashed it
};

// Opens the reference; on failure the sentence goes to `err`.
[[nodiscard]] bool OpenReference(const std::string& path, ReferenceImage& reference,
                                 std::ostream& out, std::ostream& err);

// A pass's audio and pointers as the comparison reads them: its files, or the same streams
// rebuilt from the reference and the pass's evidence.
struct PassStreams {
    BlockSource& audio;
    BlockSource& c2;
    std::int64_t sectors = 0;
};

// Aligns and compares `pass` with the reference: fills `verdict` (but for its input files) and
// returns kExitOk, or reports the failure to `err` and returns its exit code. A partial pass
// (cut short) is judged over the sectors it holds, however few.
[[nodiscard]] int JudgeStreams(ReferenceImage& reference, const PassStreams& pass, bool partial,
                               Verdict& verdict, std::ostream& err);

struct PassFileDigests {
    std::string wavSha256;
    std::string c2Sha256;
};

// Judges the extraction `wav` with its pointers `c2`, as JudgeStreams does. With `digests`, the
// two files' SHA-256 are taken on the way.
[[nodiscard]] int JudgePass(ReferenceImage& reference, const std::string& wav,
                            const std::string& c2, bool partial, Verdict& verdict,
                            std::ostream& out, std::ostream& err,
                            PassFileDigests* digests = nullptr);

// The verdict's files beside `wav`: <name>.report.csv, .svg, .json, .html.
[[nodiscard]] std::vector<std::string> VerdictOutputs(const std::string& wav);

// Refuses (with the message, exit code 1) a run whose outputs would replace an input or each
// other; kExitOk when none would.
[[nodiscard]] int RefuseClashes(const OutputPlan& plan, std::ostream& err);

// Writes the verdict's files and lists them on `out`.
[[nodiscard]] int WriteVerdictFiles(const Verdict& verdict, const std::string& wav,
                                    std::ostream& out, std::ostream& err);

}  // namespace report
