// The verdict as JSON, <drive>.report.json: for keeping, comparing drives and other tools. The
// field names are stable; the README lists them. A new or changed meaning gets a new
// formatVersion.
#pragma once

#include <ostream>
#include <string>

#include <nlohmann/json.hpp>

#include "report/output/summary.h"

namespace report {

inline constexpr const char* kVerdictFormat = "c2report verdict";
inline constexpr int kVerdictFormatVersion = 1;

// `drive` is the drive's name (the extraction's file name without its extension).
[[nodiscard]] nlohmann::ordered_json VerdictJson(const Verdict& verdict, const std::string& drive);

// `count` per million of `compared`; 0 when nothing was compared.
[[nodiscard]] double PerMillion(std::uint64_t count, std::uint64_t compared);

// The audio bytes compared byte by byte: the compared sectors the drive delivered (a
// zero-filled sector is a failed read, not audio).
[[nodiscard]] std::uint64_t BytesCompared(const Verdict& verdict);

// Missed bytes per million bytes compared: errors the drive did not flag, per delivered byte.
[[nodiscard]] double MissedPerMillion(const Verdict& verdict);

}  // namespace report
