#include "runtime/command_line.h"

#include <algorithm>
#include <cstring>

namespace runtime {
namespace {

// Appends to a NUL-terminated text in `buffer`, keeping room for the NUL when there is any.
class TailWriter {
public:
    explicit TailWriter(std::span<char> buffer) : buffer_(buffer) { Terminate(); }

    void Put(char c) {
        if (used_ < buffer_.size()) {
            buffer_[used_++] = c;
            Terminate();
        }
    }

private:
    void Terminate() {
        if (used_ < buffer_.size()) {
            buffer_[used_] = '\0';
        }
    }

    std::span<char> buffer_;
    std::size_t used_ = 0;
};

}  // namespace

void BuildCommandTail(std::span<const char* const> arguments, std::span<char> buffer) {
    TailWriter tail(buffer);
    bool first = true;
    for (const char* argument : arguments) {
        const std::string_view text(argument);
        if (!first) {
            tail.Put(' ');
        }
        first = false;
        // A shell has already removed the user's quotes; quote again what would otherwise
        // split or vanish. A double quote inside an argument cannot be represented and is
        // kept as typed.
        const bool quote = text.empty() || text.find(' ') != std::string_view::npos;
        if (quote) {
            tail.Put('"');
        }
        for (char c : text) {
            tail.Put(c);
        }
        if (quote) {
            tail.Put('"');
        }
    }
}

std::string_view TailAfterProgramName(std::string_view commandLine) {
    const auto skipSpaces = [&commandLine] {
        commandLine.remove_prefix(std::min(commandLine.size(), commandLine.find_first_not_of(' ')));
    };
    skipSpaces();
    if (!commandLine.empty() && commandLine.front() == '"') {
        commandLine.remove_prefix(1);
        const std::size_t closing = commandLine.find('"');
        commandLine.remove_prefix(closing == std::string_view::npos ? commandLine.size()
                                                                    : closing + 1);
    } else {
        commandLine.remove_prefix(std::min(commandLine.size(), commandLine.find(' ')));
    }
    skipSpaces();
    return commandLine;
}

void CopyCommandTail(std::string_view tail, std::span<char> buffer) {
    TailWriter writer(buffer);
    for (char c : tail) {
        writer.Put(c);
    }
}

bool StrToInt(std::string_view text, std::int32_t& value) {
    text = text.substr(0, std::min(text.size(), text.find('\0')));
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    constexpr std::int64_t limitTens = 214'748'364;
    const std::int64_t lastDigitLimit = negative ? 8 : 7;
    std::int64_t magnitude = 0;  // at most 2,147,483,648, and that only after a minus
    bool anyDigit = false;
    bool overflow = false;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const std::int64_t digit = text[i] - '0';
        if (magnitude > limitTens || (magnitude == limitTens && digit > lastDigitLimit)) {
            overflow = true;
            break;
        }
        magnitude = magnitude * 10 + digit;
        anyDigit = true;
    }
    value = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
    return anyDigit && !overflow && i == text.size();
}
}  // namespace runtime
