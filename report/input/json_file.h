// The one reader of the JSON files c2report takes from anyone (studies, verdicts): a bounded
// read of a regular file, a parse that stops at a nesting limit and says where it failed, and
// typed access to fields that names the field (`passes[2].sectors`) when one breaks a rule.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace report {

using ReadJson = nlohmann::json;

struct JsonLimits {
    std::uint64_t maxBytes = 16u << 20;
    std::size_t maxDepth = 16;
};

// Parses `text`; nothing, with "line L, column C: <reason>" in `error`, when it is not one JSON
// value, nests deeper than `maxDepth` or repeats a key in an object.
[[nodiscard]] std::optional<ReadJson> ParseJson(std::string_view text, std::size_t maxDepth,
                                                std::string& error);

// Parses the text of the file at `path`; nothing, with a sentence naming `path`, on failure.
[[nodiscard]] std::optional<ReadJson> ParseJsonFile(const std::string& path, std::string_view text,
                                                    const JsonLimits& limits, std::string& error);
// Reads and parses the file at `path`; nothing, with a sentence naming `path`, on failure.
[[nodiscard]] std::optional<ReadJson> ReadJsonFile(const std::string& path,
                                                   const JsonLimits& limits, std::string& error);

// A rule of the file broken at a field; the text starts with the field's path.
class JsonFieldError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A value of a parsed document with its path from the root. Every typed read checks type and
// range and throws JsonFieldError naming the path; DecodeJson turns that into a message.
class JsonField {
public:
    explicit JsonField(const ReadJson& value, std::string path = {})
        : value_(&value), path_(std::move(path)) {}

    [[nodiscard]] const std::string& Path() const { return path_; }
    [[nodiscard]] const ReadJson& Value() const { return *value_; }
    [[nodiscard]] bool IsNull() const { return value_->is_null(); }

    // A member that must be there (the value an object).
    [[nodiscard]] JsonField Member(std::string_view key) const;
    // A member that may be absent or null.
    [[nodiscard]] std::optional<JsonField> Optional(std::string_view key) const;
    // An integer in [min, max]; `what` names the quantity ("a sector count"). 3.0 and 1e300
    // are numbers but not integers, and refused.
    [[nodiscard]] std::int64_t Integer(std::int64_t min, std::int64_t max, const char* what) const;
    // Any finite number in [min, max].
    [[nodiscard]] double Number(double min, double max, const char* what) const;
    [[nodiscard]] bool Boolean() const;
    // A string of at most `maxLength` bytes without NUL.
    [[nodiscard]] std::string String(std::size_t maxLength) const;
    // The elements of an array of at most `maxCount`, each with its path ("passes[2]").
    [[nodiscard]] std::vector<JsonField> Elements(std::size_t maxCount) const;

    // Refuses the value with `reason` ("is not a known form"), naming the path and the value.
    [[noreturn]] void Refuse(const std::string& reason) const;

private:
    const ReadJson* value_;
    std::string path_;
};

// A kind of JSON document: its "format" and "formatVersion", and the messages refusing one
// (each follows the quoted path).
struct JsonFormat {
    const char* format;  // "Quellor study"
    std::int64_t version;
    const char* notOurs;       // " is not a Quellor study."
    const char* otherVersion;  // " is a Quellor study of another format version (", the version
    const char* unusable;      // " is not a usable Quellor study: ", the field and the reason
};

// "<quoted path> is not a usable <kind>: <reason>."
[[nodiscard]] std::string UnusableMessage(const std::string& path, const JsonFormat& format,
                                          const std::string& reason);

// `decode(root)` over a parsed document of `format`; nothing, with the file's message in
// `error`, when a field breaks a rule.
template <typename Decode>
[[nodiscard]] auto DecodeJson(const ReadJson& json, const std::string& path,
                              const JsonFormat& format, Decode decode, std::string& error)
    -> std::optional<decltype(decode(JsonField(json)))> {
    try {
        return decode(JsonField(json));
    } catch (const JsonFieldError& failure) {
        error = UnusableMessage(path, format, failure.what());
        return std::nullopt;
    }
}

// The same for a file's text already read.
[[nodiscard]] std::optional<ReadJson> ParseFormatJson(const std::string& path,
                                                      std::string_view text,
                                                      const JsonLimits& limits,
                                                      const JsonFormat& format, std::string& error);
// Reads a document of `format`: refuses another format or version, naming `path`.
[[nodiscard]] std::optional<ReadJson> ReadFormatJson(const std::string& path,
                                                     const JsonFormat& format, std::string& error);

}  // namespace report
