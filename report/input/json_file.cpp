#include "report/input/json_file.h"

#include <cmath>
#include <limits>

#include "report/input/input_file.h"
#include "report/output/text.h"

namespace report {
namespace {

// Builds the document as the parser reads it, so that the nesting limit stops the parse at the
// first level too deep (not after a 16 MB tower was built) and a repeated key is refused rather
// than silently replacing the first.
class Builder : public nlohmann::json_sax<ReadJson> {
public:
    explicit Builder(std::size_t maxDepth) : maxDepth_(maxDepth) {}

    bool null() override { return Add(nullptr); }
    bool boolean(bool value) override { return Add(value); }
    bool number_integer(number_integer_t value) override { return Add(value); }
    bool number_unsigned(number_unsigned_t value) override { return Add(value); }
    bool number_float(number_float_t value, const string_t&) override { return Add(value); }
    bool string(string_t& value) override { return Add(std::move(value)); }
    bool binary(binary_t&) override { return Fail("binary values are not JSON"); }
    bool start_object(std::size_t) override { return Open(ReadJson::object()); }
    bool start_array(std::size_t) override { return Open(ReadJson::array()); }
    bool end_object() override { return Close(); }
    bool end_array() override { return Close(); }
    bool key(string_t& key) override {
        if (stack_.back()->contains(key)) {
            return Fail("the key \"" + ConsoleText(key) + "\" is there twice");
        }
        key_ = std::move(key);
        return true;
    }
    bool parse_error(std::size_t, const std::string&,
                     const nlohmann::detail::exception& failure) override {
        // "[json.exception.parse_error.101] parse error at line 3, column 14: syntax error
        // while parsing value - unexpected '}'; expected ..." -> "line 3, column 14: ..."
        std::string what = failure.what();
        const auto at = what.find(" at line ");
        what = at == std::string::npos ? what : what.substr(at + 4);
        for (const char* noise :
             {"syntax error while parsing value - ", "syntax error while parsing object key - ",
              "syntax error while parsing object separator - ",
              "syntax error while parsing object - ", "syntax error while parsing array - "}) {
            if (const auto found = what.find(noise); found != std::string::npos) {
                what.erase(found, std::string_view(noise).size());
            }
        }
        error_ = ConsoleText(what);
        return false;
    }

    ReadJson& Root() { return root_; }
    [[nodiscard]] const std::string& Error() const { return error_; }

private:
    ReadJson* Place(ReadJson&& value) {
        if (stack_.empty()) {
            root_ = std::move(value);
            return &root_;
        }
        ReadJson& parent = *stack_.back();
        if (parent.is_array()) {
            parent.push_back(std::move(value));
            return &parent.back();
        }
        return &(parent[key_] = std::move(value));
    }
    bool Add(ReadJson&& value) {
        Place(std::move(value));
        return true;
    }
    bool Open(ReadJson&& container) {
        if (stack_.size() >= maxDepth_) {
            return Fail("nested deeper than " + std::to_string(maxDepth_) + " levels");
        }
        stack_.push_back(Place(std::move(container)));
        return true;
    }
    bool Close() {
        stack_.pop_back();
        return true;
    }
    bool Fail(const std::string& reason) {
        error_ = reason;
        return false;
    }

    std::size_t maxDepth_;
    ReadJson root_;
    std::vector<ReadJson*> stack_;
    std::string key_;
    std::string error_;
};

// The value as a message shows it: short, and safe for a terminal.
std::string Shown(const ReadJson& value) {
    std::string text = value.dump(-1, ' ', false, ReadJson::error_handler_t::replace);
    if (text.size() > 40) {
        text = text.substr(0, 37) + "...";
    }
    return ConsoleText(text);
}

const char* TypeName(const ReadJson& value) {
    switch (value.type()) {
        case ReadJson::value_t::object:
            return "an object";
        case ReadJson::value_t::array:
            return "a list";
        case ReadJson::value_t::string:
            return "text";
        case ReadJson::value_t::boolean:
            return "true or false";
        case ReadJson::value_t::null:
            return "null";
        default:
            return "a number";
    }
}

std::string Child(const std::string& path, std::string_view key) {
    return path.empty() ? std::string(key) : path + "." + std::string(key);
}

}  // namespace

std::optional<ReadJson> ParseJson(std::string_view text, std::size_t maxDepth, std::string& error) {
    Builder builder(maxDepth);
    if (!ReadJson::sax_parse(text, &builder, ReadJson::input_format_t::json, true)) {
        error = builder.Error().empty() ? "not JSON" : builder.Error();
        return std::nullopt;
    }
    return std::move(builder.Root());
}

std::optional<ReadJson> ParseJsonFile(const std::string& path, std::string_view text,
                                      const JsonLimits& limits, std::string& error) {
    std::string reason;
    auto json = ParseJson(text, limits.maxDepth, reason);
    if (!json) {
        error = Quoted(path) + " is not JSON: " + reason + ".";
    }
    return json;
}

std::optional<ReadJson> ReadJsonFile(const std::string& path, const JsonLimits& limits,
                                     std::string& error) {
    const auto text = ReadSmallInput(path, limits.maxBytes, error);
    if (!text) {
        return std::nullopt;
    }
    return ParseJsonFile(path, *text, limits, error);
}

JsonField JsonField::Member(std::string_view key) const {
    if (!value_->is_object()) {
        Refuse("is " + std::string(TypeName(*value_)) + ", not an object");
    }
    const auto found = value_->find(key);
    if (found == value_->end()) {
        throw JsonFieldError(Child(path_, key) + " is missing");
    }
    return JsonField(*found, Child(path_, key));
}

std::optional<JsonField> JsonField::Optional(std::string_view key) const {
    if (!value_->is_object()) {
        Refuse("is " + std::string(TypeName(*value_)) + ", not an object");
    }
    const auto found = value_->find(key);
    if (found == value_->end() || found->is_null()) {
        return std::nullopt;
    }
    return JsonField(*found, Child(path_, key));
}

std::int64_t JsonField::Integer(std::int64_t min, std::int64_t max, const char* what) const {
    const bool integer =
        value_->is_number_integer() &&
        !(value_->is_number_unsigned() &&
          value_->get<std::uint64_t>() >
              static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()));
    const std::int64_t number = integer ? value_->get<std::int64_t>() : 0;
    if (!integer || number < min || number > max) {
        Refuse("is not " + std::string(what) + " (a whole number from " + std::to_string(min) +
               " to " + std::to_string(max) + ")");
    }
    return number;
}

double JsonField::Number(double min, double max, const char* what) const {
    const double number = value_->is_number() ? value_->get<double>() : std::nan("");
    if (!(number >= min && number <= max)) {
        Refuse("is not " + std::string(what));
    }
    return number;
}

bool JsonField::Boolean() const {
    if (!value_->is_boolean()) {
        Refuse("is not true or false");
    }
    return value_->get<bool>();
}

std::string JsonField::String(std::size_t maxLength) const {
    if (!value_->is_string()) {
        Refuse("is not text");
    }
    const auto& text = value_->get_ref<const std::string&>();
    if (text.size() > maxLength) {
        Refuse("is longer than " + std::to_string(maxLength) + " bytes");
    }
    if (text.find('\0') != std::string::npos) {
        Refuse("holds a NUL byte");
    }
    return text;
}

std::vector<JsonField> JsonField::Elements(std::size_t maxCount) const {
    if (!value_->is_array()) {
        Refuse("is not a list");
    }
    if (value_->size() > maxCount) {
        throw JsonFieldError(path_ + " holds " + std::to_string(value_->size()) +
                             " entries; at most " + std::to_string(maxCount) + " are allowed");
    }
    std::vector<JsonField> elements;
    elements.reserve(value_->size());
    for (std::size_t i = 0; i < value_->size(); ++i) {
        elements.emplace_back((*value_)[i], path_ + "[" + std::to_string(i) + "]");
    }
    return elements;
}

void JsonField::Refuse(const std::string& reason) const {
    // A value is shown where it is short enough to read: a list or an object is named only.
    const std::string name = path_.empty() ? std::string("the document") : path_;
    throw JsonFieldError(value_->is_structured() ? name + " " + reason
                                                 : name + ": " + Shown(*value_) + " " + reason);
}

std::string UnusableMessage(const std::string& path, const JsonFormat& format,
                            const std::string& reason) {
    return Quoted(path) + format.unusable + reason + ".";
}

std::optional<ReadJson> ParseFormatJson(const std::string& path, std::string_view text,
                                        const JsonLimits& limits, const JsonFormat& format,
                                        std::string& error) {
    auto json = ParseJsonFile(path, text, limits, error);
    if (!json) {
        return std::nullopt;
    }
    const auto name = json->is_object() ? json->find("format") : json->end();
    if (!json->is_object() || name == json->end() || *name != format.format) {
        error = Quoted(path) + format.notOurs;
        return std::nullopt;
    }
    const auto version = json->find("formatVersion");
    // Compared as the integers they are: 4294967297 is not 1, though its low 32 bits are.
    const bool same =
        version != json->end() &&
        (version->is_number_unsigned()
             ? version->get<std::uint64_t>() == static_cast<std::uint64_t>(format.version)
             : version->is_number_integer() && version->get<std::int64_t>() == format.version);
    if (!same) {
        error = Quoted(path) + format.otherVersion +
                (version == json->end() ? std::string("none") : Shown(*version)) +
                "; this c2report reads " + std::to_string(format.version) + ").";
        return std::nullopt;
    }
    return json;
}

std::optional<ReadJson> ReadFormatJson(const std::string& path, const JsonFormat& format,
                                       std::string& error) {
    const JsonLimits limits;
    const auto text = ReadSmallInput(path, limits.maxBytes, error);
    return text ? ParseFormatJson(path, *text, limits, format, error) : std::nullopt;
}

}  // namespace report
