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

std::string ConsoleText(std::string_view text, bool keepLines) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        // C1 controls arrive as UTF-8: 0xC2 0x80-0x9F (0x9B starts a terminal command).
        const bool c1 = c == 0xC2 && i + 1 < text.size() &&
                        (static_cast<unsigned char>(text[i + 1]) & 0xE0) == 0x80;
        char escaped[8];
        if (c1) {
            std::snprintf(escaped, sizeof escaped, "\\u%04x",
                          static_cast<unsigned char>(text[++i]));
            out += escaped;
        } else if ((c < 0x20 && !(keepLines && c == '\n')) || c == 0x7F) {
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string Quoted(std::string_view path) {
    std::string quoted = "\"";
    quoted += ConsoleText(path);
    quoted += '"';
    return quoted;
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

std::string CsvField(const std::string& text) {
    // A spreadsheet runs a cell that starts like a formula; a leading ' keeps it text.
    const bool formula =
        !text.empty() && std::string_view("=+-@\t\r").find(text[0]) != std::string_view::npos;
    if (!formula && text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string quoted = formula ? "\"'" : "\"";
    for (const char c : text) {
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    }
    return quoted + "\"";
}

}  // namespace report
