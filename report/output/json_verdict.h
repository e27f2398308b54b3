// The verdict as JSON, <drive>.report.json: for keeping, comparing drives and other tools. The
// field names are stable; the README lists them. A new or changed meaning gets a new
// formatVersion.
#pragma once

#include <optional>
#include <ostream>
#include <string>

#include <nlohmann/json.hpp>

#include "report/output/summary.h"

namespace report {

inline constexpr const char* kVerdictFormat = "c2report verdict";
inline constexpr int kVerdictFormatVersion = 1;

// `drive` is the drive's name (the extraction's file name without its extension).
[[nodiscard]] nlohmann::ordered_json VerdictJson(const Verdict& verdict, const std::string& drive);

// The speed of a study verdict's pass (its `study` object) as tables name it.
[[nodiscard]] std::string StudySpeedLabel(const nlohmann::ordered_json& study);

// `count` per million of `compared`; 0 when nothing was compared.
[[nodiscard]] double PerMillion(std::uint64_t count, std::uint64_t compared);

// Missed bytes per million bytes compared: errors the drive did not flag, per delivered byte.
[[nodiscard]] double MissedPerMillion(const Verdict& verdict);

// A kind of JSON file c2report reads, and the messages that refuse one (each follows the
// quoted path).
struct JsonFileKind {
    const char* format;
    int formatVersion;
    const char* notOurs;
    const char* notComplete;
    const char* otherVersion;  // followed by the version found
};

// Reads a JSON file of `kind`; on failure returns nothing and fills `error` with a sentence
// naming `path`.
[[nodiscard]] std::optional<nlohmann::ordered_json> ReadFormatJson(const std::string& path,
                                                                   const JsonFileKind& kind,
                                                                   std::string& error);

// Reads a verdict written by WriteVerdictJson; on failure returns nothing and fills `error`
// with a sentence naming `path`.
[[nodiscard]] std::optional<nlohmann::ordered_json> ReadVerdictJson(const std::string& path,
                                                                    std::string& error);

}  // namespace report
