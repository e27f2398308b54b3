#include "report/input/shared_fields.h"

#include <algorithm>

namespace report {

std::string PassForm(const JsonField& field) {
    std::string form = field.String(16);
    if (std::find(kPassForms.begin(), kPassForms.end(), form) == kPassForms.end()) {
        field.Refuse("is not a form Quellor reads (readcd14, d8, density, readcd12)");
    }
    return form;
}

std::string PassSpeed(const JsonField& field, std::int64_t mostTimes) {
    std::string speed = field.String(8);
    const bool times =
        speed.size() >= 2 && speed.size() <= 4 && speed.back() == 'x' && speed.front() != '0' &&
        std::all_of(speed.begin(), speed.end() - 1, [](char c) { return c >= '0' && c <= '9'; });
    if (speed != "max" && !(times && std::stoi(speed.substr(0, speed.size() - 1)) <= mostTimes)) {
        field.Refuse("is not a speed Quellor asks for (\"max\", or \"1x\" to \"" +
                     std::to_string(mostTimes) + "x\")");
    }
    return speed;
}

std::string Printable(const JsonField& field, std::size_t length) {
    std::string text = field.String(length);
    if (!std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c <= 0x7e; })) {
        field.Refuse("is not printable ASCII");
    }
    return text;
}

std::string OneOf(const JsonField& field, std::initializer_list<const char*> words) {
    std::string text = field.String(16);
    if (std::none_of(words.begin(), words.end(), [&](const char* w) { return text == w; })) {
        std::string list;
        for (const char* word : words) {
            list += (list.empty() ? "" : ", ") + std::string(word);
        }
        field.Refuse("is not one of " + list);
    }
    return text;
}

std::string Sha256Hex(const JsonField& field) {
    constexpr std::size_t kDigits = 64;
    std::string text = field.String(kDigits);
    const bool hex = text.size() == kDigits && std::all_of(text.begin(), text.end(), [](char c) {
                         return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
                     });
    if (!hex) {
        field.Refuse("is not a SHA-256 (64 lower-case hex digits)");
    }
    return text;
}

std::string Transport(const JsonField& field) {
    return OneOf(field, {"usb", "ata", "scsi", "unknown"});
}

}  // namespace report
