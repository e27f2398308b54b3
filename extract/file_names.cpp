#include "extract/file_names.h"

#include <algorithm>

namespace extract {
namespace {

constexpr std::string_view unsafeCharacters = "\\\"/*':><|";

// Appends `text` to the NUL-terminated contents of `buffer`, cutting to keep the NUL.
void Append(std::span<char> buffer, std::string_view text) {
    const auto end = std::find(buffer.begin(), buffer.end(), '\0');
    const std::size_t used = static_cast<std::size_t>(end - buffer.begin());
    const std::size_t room = buffer.size() - std::min(used + 1, buffer.size());
    const std::size_t taken = std::min(room, text.size());
    std::copy_n(text.begin(), taken, buffer.begin() + static_cast<std::ptrdiff_t>(used));
    if (used + taken < buffer.size()) {
        buffer[used + taken] = '\0';
    }
}

}  // namespace

void SanitizeFileName(std::span<char> text) {
    const auto end = std::find(text.begin(), text.end(), '\0');
    const auto kept = std::remove(text.begin(), end, ' ');
    std::fill(kept, end, '\0');
    // A control character would put a terminal escape or a line break into the name.
    std::replace_if(
        text.begin(), kept,
        [](char c) {
            const auto code = static_cast<unsigned char>(c);
            return code < 0x20 || code == 0x7F ||
                   unsafeCharacters.find(c) != std::string_view::npos;
        },
        '-');
}

OutputNames MakeOutputNames(std::string_view productName, std::string_view suffix) {
    OutputNames names;
    Append(names.wav, productName.substr(0, std::min(productName.size(), productName.find('\0'))));
    SanitizeFileName(names.wav);
    Append(names.wav, suffix);
    names.c2 = names.wav;
    Append(names.wav, ".wav");
    Append(names.c2, ".c2");
    return names;
}

}  // namespace extract
