// `c2report --study <Reference.wav> <drive>.study.json`: a verdict for each pass of a drive study
// (every C2 form at every speed the study read), then the study's table and its page.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace report {

inline constexpr const char* kStudyFormat = "Quellor study";
inline constexpr int kStudyFormatVersion = 1;

// One pass as the study file records it; `wav` and `c2` are named beside the study file.
struct StudyPass {
    std::string form;                           // readcd14, d8, density, readcd12
    std::optional<std::string> speedRequested;  // "max" or "Nx"; none: no speed list was given
    bool speedSet = false;
    std::optional<std::int64_t> speedReportedKBps;
    std::string wav, c2;
    std::int64_t sectors = 0;
    std::int64_t failedSectors = 0;
    double seconds = 0;
    bool completed = false;
    std::optional<std::string> error;
    std::optional<double> measuredKBps;  // audio bytes over the time spent in read commands
};

struct StudyFile {
    std::string vendor, product, revision;
    std::optional<std::string> vendorSpecific;  // INQUIRY bytes 36-55
    std::optional<std::string> unit;            // hash of the unit serial number
    std::string transport = "unknown";
    std::vector<std::string> formsFound;
    std::vector<StudyPass> passes;
};

// Reads a study file; on failure returns nothing and fills `error` with a sentence naming `path`.
[[nodiscard]] std::optional<StudyFile> ReadStudyFile(const std::string& path, std::string& error);

// Judges every pass against the reference (read and hashed once for all), writes each pass's
// verdict files beside its WAV, prints the study's table and writes <drive>.study.html beside
// the study file. Passes that cannot be judged are named, and the others still judged.
[[nodiscard]] int RunStudy(const std::string& referencePath, const std::string& studyPath,
                           std::ostream& out, std::ostream& err);

}  // namespace report
