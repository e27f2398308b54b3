#include "report/output/text.h"

#include <cstdio>

#include "report/comparison/cd_format.h"

namespace report {

std::string Grouped(std::uint64_t value) {
    const std::string digits = std::to_string(value);
    std::string text;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) {
            text.push_back(',');
        }
        text.push_back(digits[i]);
    }
    return text;
}

std::string SignedNumber(std::int64_t value) {
    char text[32];
    std::snprintf(text, sizeof text, value > 0 ? "+%lld" : "%lld", static_cast<long long>(value));
    return text;
}

std::string RateText(std::optional<double> rate) {
    return rate ? Decimals(100.0 * *rate, 2) + " %" : "n/a";
}

std::string Decimals(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string SectorTime(std::int64_t sector) {
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld",
                  static_cast<long long>(sector / kSectorsPerMinute),
                  static_cast<long long>(sector / kSectorsPerSecond % 60),
                  static_cast<long long>(sector % kSectorsPerSecond));
    return text;
}

std::string XmlEscape(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

}  // namespace report
