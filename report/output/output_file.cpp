#include "report/output/output_file.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <random>
#include <streambuf>
#include <system_error>
#include <unordered_map>

#include "report/files/platform.h"
#include "report/output/text.h"

namespace report {
namespace {

// The name a path stands for, whatever its spelling: absolute, without "." and "..", in the
// platform's letter case.
std::string NameKey(const std::string& path) {
    std::error_code failure;
    std::filesystem::path absolute = std::filesystem::absolute(path, failure);
    std::string key =
        (failure ? std::filesystem::path(path) : absolute).lexically_normal().generic_string();
    if (platform::NamesIgnoreCase()) {
        std::transform(key.begin(), key.end(), key.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    }
    return key;
}

std::string InputClash(const std::string& input, const std::string& output) {
    return Quoted(input) + " is an input and also where c2report writes " + Quoted(output) +
           "; it will not overwrite an input. Rename the file.";
}

std::string OutputClash(const std::string& first, const std::string& second) {
    return "c2report would write " + Quoted(first) + " and " + Quoted(second) +
           ", the same file, in one run; it will not write over its own output. Rename an "
           "input.";
}

// A buffered stream into a C file, so that a large page is never held whole in memory.
class FileBuffer : public std::streambuf {
public:
    explicit FileBuffer(std::FILE* file) : file_(file) {
        setp(buffer_.data(), buffer_.data() + buffer_.size());
    }
    bool Flush() { return Drain() && std::fflush(file_) == 0; }

protected:
    int_type overflow(int_type c) override {
        if (!Drain()) {
            return traits_type::eof();
        }
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }
    int sync() override { return Flush() ? 0 : -1; }

private:
    bool Drain() {
        const auto count = static_cast<std::size_t>(pptr() - pbase());
        const bool written = std::fwrite(pbase(), 1, count, file_) == count;
        setp(buffer_.data(), buffer_.data() + buffer_.size());
        return written;
    }
    std::FILE* file_;
    std::array<char, 65536> buffer_{};
};

// "<folder>/<name>.<8 hex digits>.partial", created exclusively; a name already taken (by an
// earlier run, or by anyone's link) is never opened: another is drawn.
std::FILE* CreateTemporary(const std::string& path, std::string& temporary) {
    static std::mt19937 draw{std::random_device{}()};
    for (int attempt = 0; attempt < 32; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".%08x.partial", static_cast<unsigned>(draw()));
        temporary = path + suffix;
        bool exists = false;
        if (std::FILE* file = platform::CreateNewFile(temporary, exists)) {
            return file;
        }
        if (!exists) {
            return nullptr;
        }
    }
    return nullptr;
}

}  // namespace

std::string OutputPlan::Clash() const {
    struct Seen {
        const std::string* path;
        bool input;
    };
    // By name and by identity (another name of the same file: a link, a path through a linked
    // folder); one look-up each, so a study of many passes is checked in linear time.
    std::unordered_map<std::string, Seen> names;
    std::map<std::pair<std::uint64_t, std::uint64_t>, Seen> files;
    auto find = [&](const std::string& key,
                    const std::optional<platform::FileIdentity>& id) -> const Seen* {
        if (const auto found = names.find(key); found != names.end()) {
            return &found->second;
        }
        const auto found = id ? files.find({id->device, id->index}) : files.end();
        return found != files.end() ? &found->second : nullptr;
    };
    auto remember = [&](const std::string& path, bool input) {
        const std::string key = NameKey(path);
        const auto id = platform::IdentityOf(path);
        if (const Seen* earlier = find(key, id); earlier != nullptr && !input) {
            return earlier->input ? InputClash(*earlier->path, path)
                                  : OutputClash(*earlier->path, path);
        }
        names.emplace(key, Seen{&path, input});
        if (id) {
            files.emplace(std::pair(id->device, id->index), Seen{&path, input});
        }
        return std::string();
    };
    for (const std::string& input : inputs_) {
        (void)remember(input, true);
    }
    for (const std::string& output : outputs_) {
        if (std::string clash = remember(output, false); !clash.empty()) {
            return clash;
        }
    }
    return {};
}

bool WriteWholeFile(const std::string& path, const std::function<void(std::ostream&)>& write) {
    std::string temporary;
    std::FILE* file = CreateTemporary(path, temporary);
    if (file == nullptr) {
        return false;
    }
    platform::RemoveOnInterrupt(temporary.c_str());
    bool written = false;
    try {
        FileBuffer buffer(file);
        std::ostream stream(&buffer);
        write(stream);
        written = stream.good() && buffer.Flush();
    } catch (...) {
        // What the content came from failed: nothing of it is left, and the caller hears why.
        std::fclose(file);
        platform::RemoveFile(temporary);
        platform::RemoveOnInterrupt(nullptr);
        throw;
    }
    written = std::fclose(file) == 0 && written;
    written = written && platform::RenameOver(temporary, path);
    if (!written) {
        platform::RemoveFile(temporary);
    }
    platform::RemoveOnInterrupt(nullptr);
    return written;
}

bool PlaceWholeFile(const std::string& path,
                    const std::function<bool(const std::string& temporary)>& make) {
    static std::mt19937 draw{std::random_device{}()};
    std::string temporary;
    std::error_code failure;
    do {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".%08x.partial", static_cast<unsigned>(draw()));
        temporary = path + suffix;
    } while (std::filesystem::exists(std::filesystem::symlink_status(temporary, failure)));
    platform::RemoveOnInterrupt(temporary.c_str());
    bool placed = false;
    try {
        placed = make(temporary) && platform::RenameOver(temporary, path);
    } catch (...) {
        platform::RemoveFile(temporary);
        platform::RemoveOnInterrupt(nullptr);
        throw;
    }
    if (!placed) {
        platform::RemoveFile(temporary);
    }
    platform::RemoveOnInterrupt(nullptr);
    return placed;
}

bool FlushConsole(std::ostream& out, std::ostream& err, const char* message) {
    out.flush();
    if (out) {
        return true;
    }
    err << message << '\n';
    return false;
}

}  // namespace report
