// The ranking of verdicts: `c2report --compare A.report.json ...`, and the table of a study.
// Rows are ordered by what a ripper that applies the drive's lag would trust: the best
// alignment's missed bytes per million compared, then its false-flag rate; the pointers as
// delivered stand beside, marked where they are not the best alignment.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "report/input/json_file.h"

namespace report {

// One row: the few figures the tables and pages show, not the whole verdict (a comparison
// may hold a great many).
struct RankedDrive {
    std::string verdictPath;
    std::string pagePath;     // the verdict's report page
    std::string drive;        // the row's name: the drive, or vendor product revision form speed
    std::string form, speed;  // a study pass's; empty for a plain verdict
    double missedPerMillion = 0;          // best alignment
    std::optional<double> falseFlagRate;  // best alignment; none when nothing was flagged
    std::optional<double> detectionRate;  // best alignment; none when nothing was wrong
    double literalMissedPerMillion = 0;   // the pointers as delivered
    std::optional<double> literalFalseFlagRate;
    bool moved = false;             // the best alignment is not the pointers as delivered
    bool partial = false;           // a study pass that was cut short
    std::uint64_t missedBytes = 0;  // best alignment
    std::uint64_t bytesCompared = 0;
    std::int64_t offsetSamples = 0;
    std::int64_t unreadableSectors = 0;
    std::string c2Alignment;
    std::string referenceSha256;
};

// The figures the ranking needs from one verdict; nothing, with `error` naming `path` and the
// field, when a field is missing, of the wrong kind or out of its range. A study verdict's row
// is named by its drive's identity, form and speed.
[[nodiscard]] std::optional<RankedDrive> RankedFromVerdict(const ReadJson& verdict,
                                                           const std::string& path,
                                                           std::string& error);

// Reads the verdict file at `path` and its row; nothing, with the sentence in `error`, when it
// is not a verdict of this version or a field breaks its rule. `sha256`, when given, receives
// the hash of the file's bytes.
[[nodiscard]] std::optional<RankedDrive> ReadVerdictRow(const std::string& path, std::string& error,
                                                        std::string* sha256 = nullptr);

// Fewest missed bytes per million compared at the best alignment first, then the lowest
// false-flag rate there (none flagged counts as none false), then the name.
void SortRanking(std::vector<RankedDrive>& drives);

// `heading` ends with a colon; the table follows.
void WriteRankingTable(const std::vector<RankedDrive>& drives, const std::string& heading,
                       std::ostream& out);
void WriteRankingCsv(const std::vector<RankedDrive>& drives, std::ostream& out);
// The ranking as an HTML table; every number carries its verdict and field (data-verdict,
// data-json) and each row links to its verdict's page, relative to `pageFolder`.
void WriteRankingHtmlTable(const std::vector<RankedDrive>& drives, const std::string& pageFolder,
                           std::ostream& out);
void WriteRankingPage(const std::vector<RankedDrive>& drives, std::ostream& out);

// Runs `c2report --compare <verdict.json>...`: the table to `out`, comparison.html and
// comparison.csv into the current folder; failures to `err`. Returns the exit code.
[[nodiscard]] int RunCompare(const std::vector<std::string>& verdictPaths, std::ostream& out,
                             std::ostream& err);

}  // namespace report
