// The report page, <drive>.report.html, and the frame every page of c2report shares: one
// self-contained file (styles and chart inline, nothing fetched, no script), readable on a
// phone and on a desktop. Every number on a page comes from the JSON verdict and carries its
// field's path in data-json, so a reader (or a test) can tie it to the verdict.
#pragma once

#include <optional>
#include <ostream>
#include <string>

#include <nlohmann/json.hpp>

namespace report {

// `verdict` as VerdictJson gives it; `chartSvg` is the chart drawn by WriteChart.
void WriteReportPage(const nlohmann::ordered_json& verdict, const std::string& chartSvg,
                     std::ostream& out);

void WritePageStart(const std::string& title, std::ostream& out);
void WritePageEnd(std::ostream& out);

// An href from a page in `pageFolder` to the file `target`: relative, '/' between folders,
// escaped for a URL and for HTML.
[[nodiscard]] std::string RelativeLink(const std::string& target, const std::string& pageFolder);

// The text a page shows for the number at `path` of `json` (a JSON pointer such as
// "/c2/literal/bytes/missed"): grouped integers, rates as percentages, "n/a" for null.
[[nodiscard]] std::string ShownNumber(const nlohmann::ordered_json& value, bool rate);
// A table cell (or other `tag`) showing the number at `path`, tagged with data-json.
[[nodiscard]] std::string NumberCell(const nlohmann::ordered_json& json, const std::string& path,
                                     bool rate = false, const char* tag = "td");
// The same for a number already taken from the verdict: `field` is its dotted path there.
[[nodiscard]] std::string ValueCell(const nlohmann::ordered_json& value, const std::string& field,
                                    bool rate = false, const char* tag = "td");
// A rate that may be undefined ("n/a").
[[nodiscard]] std::string RateCell(const std::optional<double>& rate, const std::string& field,
                                   const char* tag = "td");

}  // namespace report
