// The ranking of drives from their JSON verdicts: `c2report --compare A.report.json ...`.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace report {

struct RankedDrive {
    std::string verdictPath;
    std::string drive;
    double missedPerMillion = 0;
    std::optional<double> falseFlagRate;  // none when nothing was flagged
    std::optional<double> detectionRate;  // none when nothing was wrong
    std::uint64_t missedBytes = 0;
    std::uint64_t bytesCompared = 0;
    std::int64_t offsetSamples = 0;
    std::int64_t unreadableSectors = 0;
    std::string c2Alignment;
    std::string referenceSha256;
};

// The figures the ranking needs from one verdict; nothing, with `error` naming `path`, when a
// field is missing or of the wrong kind.
[[nodiscard]] std::optional<RankedDrive> RankedFromVerdict(const nlohmann::ordered_json& verdict,
                                                           const std::string& path,
                                                           std::string& error);

// Fewest missed bytes per million compared first, then the lowest false-flag rate (none
// flagged counts as none false), then the name.
void SortRanking(std::vector<RankedDrive>& drives);

void WriteRankingTable(const std::vector<RankedDrive>& drives, std::ostream& out);
void WriteRankingCsv(const std::vector<RankedDrive>& drives, std::ostream& out);
void WriteRankingPage(const std::vector<RankedDrive>& drives, std::ostream& out);

// Runs `c2report --compare <verdict.json>...`: the table to `out`, comparison.html and
// comparison.csv into the current folder; failures to `err`. Returns the exit code.
[[nodiscard]] int RunCompare(const std::vector<std::string>& verdictPaths, std::ostream& out,
                             std::ostream& err);

}  // namespace report
