#include "extract/arguments.h"

#include <algorithm>

namespace extract {
namespace {

// Walks the arguments of a command tail one at a time. The count and the fetch share it,
// so a quoted stretch holding spaces is one argument for both.
class ArgumentScanner {
public:
    explicit ArgumentScanner(std::string_view text)
        : text_(text.substr(0, std::min(text.size(), text.find('\0')))) {}

    // Moves to the next argument and hands each of its characters, quotes dropped, to
    // `take`. False when no argument is left.
    template <typename Take>
    bool Next(Take&& take) {
        while (position_ < text_.size() && text_[position_] == ' ') {
            ++position_;
        }
        if (position_ >= text_.size()) {
            return false;
        }
        bool quoted = false;
        for (; position_ < text_.size(); ++position_) {
            const char c = text_[position_];
            if (c == '"') {
                quoted = !quoted;
            } else if (c == ' ' && !quoted) {
                break;
            } else {
                take(c);
            }
        }
        return true;
    }

private:
    std::string_view text_;
    std::size_t position_ = 0;
};

}  // namespace

std::int32_t ArgumentCount(std::string_view text) {
    ArgumentScanner scanner(text);
    std::int32_t count = 0;
    while (scanner.Next([](char) {})) {
        ++count;
    }
    return count;
}

void GetArgument(std::string_view text, std::int32_t n, std::span<char> out) {
    if (out.empty()) {
        return;
    }
    std::size_t used = 0;
    ArgumentScanner scanner(text);
    for (std::int32_t i = 1; i <= n; ++i) {
        used = 0;
        const bool found = scanner.Next([&](char c) {
            if (used + 1 < out.size()) {
                out[used++] = c;
            }
        });
        if (!found) {
            used = 0;
            break;
        }
    }
    out[used] = '\0';
}

}  // namespace extract
