#include "simdrive/description.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <map>
#include <sstream>

#include "simdrive/positioned_file.h"

namespace simdrive {

namespace {

enum class DiscKind { none, wav, pattern };

// What a `c2_form` line changes of the drive's own honesty; applied when the section ends, so
// the drive's keys may come after it.
struct FormOverrides {
    std::optional<double> flagWrong;
    std::optional<double> flagGood;
    std::optional<FlagGranularity> granularity;
    std::optional<uint32_t> lagBytes;
    std::optional<BlockErrorByte> blockError;
    bool alwaysZero = false;
};

constexpr std::array<const char*, kC2FormCount> kFormNames{"readcd14", "d8", "density", "readcd12"};

// Everything one [drive] section says, gathered before the drive is built.
struct Section {
    int line = 0;
    DriveSettings settings;
    DiscKind discKind = DiscKind::none;
    std::string wavPath;
    uint64_t patternSectors = 0;
    uint64_t patternSeed = 1;
    DiscSpec disc;
    std::array<std::optional<FormOverrides>, kC2FormCount> forms;
};

std::string Trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return {};
    }
    const size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// Drops a '#' comment that is not inside a quoted text.
std::string StripComment(const std::string& line) {
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"') {
            quoted = !quoted;
        } else if (line[i] == '#' && !quoted) {
            return line.substr(0, i);
        }
    }
    return line;
}

std::vector<std::string> Words(const std::string& text) {
    std::istringstream stream(text);
    std::vector<std::string> words;
    for (std::string word; stream >> word;) {
        words.push_back(word);
    }
    return words;
}

class ValueError {
public:
    explicit ValueError(std::string message) : message(std::move(message)) {}
    std::string message;
};

int64_t ToInteger(const std::string& word, int64_t low, int64_t high) {
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(word.c_str(), &end, 0);
    if (word.empty() || *end != '\0' || errno != 0 || value < low || value > high) {
        throw ValueError("'" + word + "' is not a whole number from " + std::to_string(low) +
                         " to " + std::to_string(high));
    }
    return value;
}

double ToChance(const std::string& word) {
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(word.c_str(), &end);
    if (word.empty() || *end != '\0' || errno != 0 || !(value >= 0.0 && value <= 1.0)) {
        throw ValueError("'" + word + "' is not a chance from 0 to 1");
    }
    return value;
}

bool ToFlag(const std::string& word) {
    if (word == "yes" || word == "true" || word == "1") {
        return true;
    }
    if (word == "no" || word == "false" || word == "0") {
        return false;
    }
    throw ValueError("'" + word + "' is neither yes nor no");
}

FlagGranularity ToGranularity(const std::string& word) {
    if (word == "byte") {
        return FlagGranularity::byte;
    }
    if (word == "sample") {
        return FlagGranularity::sample;
    }
    if (word == "sector") {
        return FlagGranularity::sector;
    }
    throw ValueError("c2_granularity is 'byte', 'sample' or 'sector'");
}

// "Nx" is N times 176.4 kB/s, rounded up to a whole kB/s; a plain number is kB/s.
uint32_t ToSpeed(const std::string& word) {
    if (word.size() > 1 && word.back() == 'x') {
        const int64_t times = ToInteger(word.substr(0, word.size() - 1), 1, 371);
        return static_cast<uint32_t>((times * 1764 + 9) / 10);
    }
    return static_cast<uint32_t>(ToInteger(word, 1, 0xFFFE));
}

std::string ToText(const std::string& value, size_t width) {
    std::string text = value;
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
        text = text.substr(1, text.size() - 2);
    } else if (text.find('"') != std::string::npos) {
        throw ValueError("unbalanced quotes in " + value);
    }
    if (text.size() > width) {
        throw ValueError("'" + text + "' is longer than " + std::to_string(width) + " characters");
    }
    return text;
}

std::vector<std::string> Arguments(const std::string& value, size_t least, size_t most) {
    std::vector<std::string> words = Words(value);
    if (words.size() < least || words.size() > most) {
        throw ValueError("expected " + std::to_string(least) +
                         (most > least ? " to " + std::to_string(most) : std::string()) +
                         " values, found " + std::to_string(words.size()));
    }
    return words;
}

std::vector<uint8_t> ToForms(const std::string& value, std::initializer_list<uint8_t> allowed) {
    std::vector<uint8_t> forms;
    if (Trim(value) == "none") {
        return forms;
    }
    for (const std::string& word : Arguments(value, 1, allowed.size())) {
        const auto form = static_cast<uint8_t>(ToInteger(word, 0, 255));
        if (std::find(allowed.begin(), allowed.end(), form) == allowed.end()) {
            throw ValueError("form " + word + " is not one the drive model knows");
        }
        forms.push_back(form);
    }
    return forms;
}

Scratch ToScratch(const std::vector<std::string>& words, size_t at, Scratch scratch) {
    if (words.size() > at) {
        scratch.byteErrorRate = ToChance(words[at]);
    }
    if (words.size() > at + 1) {
        scratch.burstBytes = static_cast<uint32_t>(ToInteger(words[at + 1], 1, 2352));
    }
    return scratch;
}

void ApplyDisc(Section& section, const std::string& value) {
    const std::vector<std::string> words = Arguments(value, 1, 3);
    if (words[0] == "none") {
        section.discKind = DiscKind::none;
    } else if (words[0] == "wav" && words.size() == 2) {
        section.discKind = DiscKind::wav;
        section.wavPath = words[1];
    } else if (words[0] == "pattern" && words.size() >= 2) {
        section.discKind = DiscKind::pattern;
        section.patternSectors = static_cast<uint64_t>(ToInteger(words[1], 1, 449999));
        section.patternSeed =
            words.size() == 3 ? static_cast<uint64_t>(ToInteger(words[2], 0, INT64_MAX)) : 1;
    } else {
        throw ValueError("disc is 'none', 'wav <file>' or 'pattern <sectors> [seed]'");
    }
}

void ApplyFullTocForms(DriveSettings& settings, const std::string& value) {
    settings.fullTocInByte2 = false;
    settings.fullTocInControlByte = false;
    if (Trim(value) == "none") {
        return;
    }
    for (const std::string& word : Arguments(value, 1, 2)) {
        if (word == "byte2") {
            settings.fullTocInByte2 = true;
        } else if (word == "control") {
            settings.fullTocInControlByte = true;
        } else {
            throw ValueError("full_toc takes 'byte2', 'control' or 'none'");
        }
    }
}

size_t ToFormIndex(const std::string& word) {
    for (size_t i = 0; i < kFormNames.size(); ++i) {
        if (word == kFormNames[i]) {
            return i;
        }
    }
    throw ValueError("'" + word + "' is not a form: readcd14, d8, density or readcd12");
}

BlockErrorByte ToBlockError(const std::string& word) {
    if (word == "flags") {
        return BlockErrorByte::flags;
    }
    if (word == "errors") {
        return BlockErrorByte::errors;
    }
    if (word == "zero") {
        return BlockErrorByte::zero;
    }
    throw ValueError("block_error is 'flags', 'errors' or 'zero'");
}

// `<form> [flag_wrong X] [flag_good X] [granularity G] [lag N] [block_error B] [zero]`
void ApplyFormLine(Section& section, const std::string& value) {
    const std::vector<std::string> words = Arguments(value, 1, 12);
    FormOverrides form;
    for (size_t i = 1; i < words.size(); ++i) {
        const std::string& option = words[i];
        if (option == "zero") {
            form.alwaysZero = true;
            continue;
        }
        if (i + 1 == words.size()) {
            throw ValueError("'" + option + "' needs a value");
        }
        const std::string& word = words[++i];
        if (option == "flag_wrong") {
            form.flagWrong = ToChance(word);
        } else if (option == "flag_good") {
            form.flagGood = ToChance(word);
        } else if (option == "granularity") {
            form.granularity = ToGranularity(word);
        } else if (option == "lag") {
            form.lagBytes = static_cast<uint32_t>(ToInteger(word, 0, 3 * 294));
        } else if (option == "block_error") {
            form.blockError = ToBlockError(word);
        } else {
            throw ValueError("'" + option + "' is not a form option");
        }
    }
    section.forms[ToFormIndex(words[0])] = form;
}

// `<speed> [flag_wrong X] [flag_good X]`
void ApplySpeedLine(Section& section, const std::string& value) {
    const std::vector<std::string> words = Arguments(value, 3, 5);
    SpeedHonesty entry{ToSpeed(words[0]), std::nullopt, std::nullopt};
    if (words.size() % 2 == 0) {
        throw ValueError("c2_speed takes a speed, then rates by name");
    }
    for (size_t i = 1; i + 1 < words.size(); i += 2) {
        if (words[i] == "flag_wrong") {
            entry.flagWrong = ToChance(words[i + 1]);
        } else if (words[i] == "flag_good") {
            entry.flagGood = ToChance(words[i + 1]);
        } else {
            throw ValueError("'" + words[i] + "' is not a rate: flag_wrong or flag_good");
        }
    }
    section.settings.speedHonesty.push_back(entry);
}

C2Honesty WithOverrides(C2Honesty honesty, const FormOverrides& form) {
    honesty.flagWrong = form.flagWrong.value_or(honesty.flagWrong);
    honesty.flagGood = form.flagGood.value_or(honesty.flagGood);
    honesty.granularity = form.granularity.value_or(honesty.granularity);
    if (form.lagBytes) {
        honesty.oneSectorLate = false;
        honesty.lagBytes = *form.lagBytes;
    }
    honesty.blockError = form.blockError.value_or(honesty.blockError);
    honesty.alwaysZero = form.alwaysZero;
    return honesty;
}

// `SECTOR:N`, N up to 10 minutes' worth of milliseconds.
std::pair<int64_t, int64_t> SectorAndCount(const std::string& value) {
    const std::string text = Trim(value);
    const size_t colon = text.find(':');
    if (colon == std::string::npos) {
        throw ValueError("'" + text + "' is not SECTOR:N");
    }
    return {ToInteger(text.substr(0, colon), 0, 449'999),
            ToInteger(text.substr(colon + 1), 0, 600'000)};
}

using Setter = std::function<void(Section&, const std::string&)>;

const std::map<std::string, Setter>& Setters() {
    static const std::map<std::string, Setter> setters = {
        {"adapter",
         [](Section& s, const std::string& v) {
             s.settings.adapter = static_cast<uint8_t>(ToInteger(v, 0, 255));
         }},
        {"target",
         [](Section& s, const std::string& v) {
             s.settings.target = static_cast<uint8_t>(ToInteger(v, 0, 255));
         }},
        {"lun",
         [](Section& s, const std::string& v) {
             s.settings.lun = static_cast<uint8_t>(ToInteger(v, 0, 7));
         }},
        {"peripheral_type",
         [](Section& s, const std::string& v) {
             s.settings.peripheralType = static_cast<uint8_t>(ToInteger(v, 0, 31));
         }},
        {"removable", [](Section& s, const std::string& v) { s.settings.removable = ToFlag(v); }},
        {"vendor", [](Section& s, const std::string& v) { s.settings.vendor = ToText(v, 8); }},
        {"product", [](Section& s, const std::string& v) { s.settings.product = ToText(v, 16); }},
        {"revision", [](Section& s, const std::string& v) { s.settings.revision = ToText(v, 4); }},
        {"vendor_specific",
         [](Section& s, const std::string& v) { s.settings.vendorSpecific = ToText(v, 20); }},
        {"serial", [](Section& s, const std::string& v) { s.settings.serial = ToText(v, 64); }},
        {"read_cd",
         [](Section& s, const std::string& v) {
             s.settings.readCdForms = ToForms(v, {0x10, 0x12, 0x14});
         }},
        {"vendor_d8",
         [](Section& s, const std::string& v) {
             s.settings.vendorD8Forms = ToForms(v, {0x00, 0x04});
         }},
        {"density_audio",
         [](Section& s, const std::string& v) { s.settings.densityAudio = ToFlag(v); }},
        {"density_c2", [](Section& s, const std::string& v) { s.settings.densityC2 = ToFlag(v); }},
        {"mode_sense_6",
         [](Section& s, const std::string& v) { s.settings.modeSense6 = ToFlag(v); }},
        {"c2_pointer_bit",
         [](Section& s, const std::string& v) { s.settings.c2PointerBit = ToFlag(v); }},
        {"full_toc", [](Section& s, const std::string& v) { ApplyFullTocForms(s.settings, v); }},
        {"full_toc_bcd",
         [](Section& s, const std::string& v) { s.settings.fullTocBcd = ToFlag(v); }},
        {"read_offset",
         [](Section& s, const std::string& v) {
             s.settings.readOffsetSamples = static_cast<int32_t>(ToInteger(v, -100000, 100000));
         }},
        {"c2_flag_wrong",
         [](Section& s, const std::string& v) { s.settings.honesty.flagWrong = ToChance(v); }},
        {"c2_flag_good",
         [](Section& s, const std::string& v) { s.settings.honesty.flagGood = ToChance(v); }},
        {"c2_granularity",
         [](Section& s, const std::string& v) { s.settings.honesty.granularity = ToGranularity(v); }},
        {"c2_late",
         [](Section& s, const std::string& v) {
             s.settings.honesty.oneSectorLate = ToFlag(v);
         }},
        {"c2_lag",
         [](Section& s, const std::string& v) {
             s.settings.honesty.oneSectorLate = false;
             s.settings.honesty.lagBytes = static_cast<uint32_t>(ToInteger(v, 0, 3 * 294));
         }},
        {"c2_block_error",
         [](Section& s, const std::string& v) { s.settings.honesty.blockError = ToBlockError(v); }},
        {"c2_form", ApplyFormLine},
        {"c2_speed", ApplySpeedLine},
        {"read_speeds",
         [](Section& s, const std::string& v) {
             s.settings.readSpeeds.clear();
             for (const std::string& word : Arguments(v, 1, 64)) {
                 s.settings.readSpeeds.push_back(ToSpeed(word));
             }
         }},
        {"set_cd_speed",
         [](Section& s, const std::string& v) { s.settings.setCdSpeed = ToFlag(v); }},
        {"not_ready_reads",
         [](Section& s, const std::string& v) {
             const auto w = Arguments(v, 1, 2);
             s.settings.notReadyReads = {
                 static_cast<uint64_t>(ToInteger(w[0], 1, INT64_MAX)),
                 w.size() == 2 ? static_cast<uint64_t>(ToInteger(w[1], 0, INT64_MAX)) : 1};
         }},
        {"spin_up",
         [](Section& s, const std::string& v) {
             s.settings.manners.spinUp = static_cast<uint32_t>(ToInteger(v, 0, 100'000));
         }},
        {"unit_attention",
         [](Section& s, const std::string& v) {
             const auto w = Arguments(v, 1, 2);
             // The ASC in hex, written as sense codes are: 28 (medium changed), 29 (reset).
             const std::string asc = Trim(w[0]);
             if (asc != "28" && asc != "29" && asc != "0x28" && asc != "0x29") {
                 throw ValueError("'" + asc + "' is neither 28 (medium changed) nor 29 (reset)");
             }
             s.settings.manners.unitAttentionAsc = asc.back() == '8' ? 0x28 : 0x29;
             s.settings.manners.unitAttentions =
                 w.size() == 2 ? static_cast<uint32_t>(ToInteger(w[1], 1, 100'000)) : 1;
         }},
        {"never_ready",
         [](Section& s, const std::string& v) { s.settings.manners.neverReady = ToFlag(v); }},
        {"pause_at",
         [](Section& s, const std::string& v) {
             const auto [sector, commands] = SectorAndCount(v);
             s.settings.manners.pauseAt = {{sector, static_cast<uint32_t>(commands)}};
         }},
        {"unit_attention_at",
         [](Section& s, const std::string& v) {
             s.settings.manners.unitAttentionAt = ToInteger(v, 0, 449'999);
         }},
        {"slow_at",
         [](Section& s, const std::string& v) {
             const auto [sector, milliseconds] = SectorAndCount(v);
             s.settings.manners.slowAt.emplace_back(sector, static_cast<uint32_t>(milliseconds));
         }},
        {"short_transfer",
         [](Section& s, const std::string& v) {
             const auto w = Arguments(v, 2, 2);
             s.settings.shortTransfers.emplace_back(
                 static_cast<uint8_t>(ToInteger(w[0], 0, 255)),
                 static_cast<uint32_t>(ToInteger(w[1], 0, 0x30000)));
         }},
        {"capacity_last_lba",
         [](Section& s, const std::string& v) {
             s.settings.capacityLastLba = static_cast<uint32_t>(ToInteger(v, 0, 0xFFFFFFFF));
         }},
        {"toc_reply",
         [](Section& s, const std::string& v) {
             s.settings.tocReply.clear();
             for (const std::string& word : Arguments(v, 4, 2048)) {
                 s.settings.tocReply.push_back(
                     static_cast<uint8_t>(ToInteger("0x" + word, 0, 255)));
             }
         }},
        {"disc", ApplyDisc},
        {"tracks",
         [](Section& s, const std::string& v) {
             s.disc.trackStarts.clear();
             for (const std::string& word : Arguments(v, 1, 99)) {
                 s.disc.trackStarts.push_back(ToInteger(word, 0, 449999));
             }
         }},
        {"data_session",
         [](Section& s, const std::string& v) {
             s.disc.dataSessionSectors = ToInteger(v, 0, 449999);
         }},
        {"damage_seed",
         [](Section& s, const std::string& v) {
             s.disc.damage.seed = static_cast<uint64_t>(ToInteger(v, 0, INT64_MAX));
         }},
        {"scratch",
         [](Section& s, const std::string& v) {
             const auto w = Arguments(v, 2, 4);
             s.disc.damage.scratches.push_back(
                 ToScratch(w, 2, Scratch{ToInteger(w[0], 0, 449999), ToInteger(w[1], 1, 449999)}));
         }},
        {"bad_sector",
         [](Section& s, const std::string& v) {
             const auto w = Arguments(v, 1, 3);
             s.disc.damage.scratches.push_back(
                 ToScratch(w, 1, Scratch{ToInteger(w[0], 0, 449999), 1, 0.05}));
         }},
        {"random_scratches",
         [](Section& s, const std::string& v) {
             const auto w = Arguments(v, 2, 4);
             const Scratch shape = ToScratch(w, 2, Scratch{});
             s.disc.damage.random =
                 RandomScratches{static_cast<uint32_t>(ToInteger(w[0], 0, 10000)),
                                 ToInteger(w[1], 1, 449999), shape.byteErrorRate, shape.burstBytes};
         }},
        {"unreadable",
         [](Section& s, const std::string& v) {
             for (const std::string& word : Arguments(v, 1, 1000)) {
                 s.disc.damage.unreadable.push_back(ToInteger(word, 0, 449999));
             }
         }},
    };
    return setters;
}

std::string ResolvePath(const std::string& path, const std::string& baseDirectory,
                        const LoadOptions& options) {
    if (!options.wavOverride.empty()) {
        return options.wavOverride;
    }
    if (path.empty() || path.front() == '/' || baseDirectory.empty()) {
        return path;
    }
    return baseDirectory + "/" + path;
}

std::unique_ptr<Drive> BuildDrive(const Section& section, const std::string& baseDirectory,
                                  const LoadOptions& options, std::string& error) {
    DriveSettings settings = section.settings;
    for (size_t i = 0; i < kC2FormCount; ++i) {
        if (section.forms[i]) {
            settings.formHonesty[i] = WithOverrides(settings.honesty, *section.forms[i]);
        }
    }
    std::unique_ptr<Disc> disc;
    std::unique_ptr<AudioSource> audio;
    if (section.discKind == DiscKind::wav) {
        audio = WavSource::Open(ResolvePath(section.wavPath, baseDirectory, options), error);
    } else if (section.discKind == DiscKind::pattern) {
        audio = std::make_unique<PatternSource>(section.patternSectors, section.patternSeed);
    }
    if (section.discKind != DiscKind::none) {
        disc = audio ? Disc::Create(std::move(audio), section.disc, error) : nullptr;
        if (!disc) {
            return nullptr;
        }
    }
    return std::make_unique<Drive>(std::move(settings), std::move(disc));
}

}  // namespace

LoadOptions LoadOptions::FromEnvironment() {
    LoadOptions options;
    if (const char* path = std::getenv(kWavOverrideVariable); path != nullptr) {
        options.wavOverride = path;
    }
    return options;
}

std::optional<DriveSet> DriveSet::Load(const std::string& path, const LoadOptions& options,
                                       std::string& error) {
    auto file = PositionedFile::Open(path, error);
    if (!file) {
        return std::nullopt;
    }
    std::string text(file->Size(), '\0');
    if (!file->ReadAt(0, std::span(reinterpret_cast<uint8_t*>(text.data()), text.size()))) {
        error = "cannot read '" + path + "'";
        return std::nullopt;
    }
    const size_t slash = path.find_last_of('/');
    const std::string directory = slash == std::string::npos ? "." : path.substr(0, slash);
    return Parse(text, directory, options, path, error);
}

std::optional<DriveSet> DriveSet::Parse(const std::string& text, const std::string& baseDirectory,
                                        const LoadOptions& options, const std::string& sourceName,
                                        std::string& error) {
    DriveSet set;
    std::optional<Section> section;
    const auto where = [&sourceName](int line) {
        return sourceName + ":" + std::to_string(line) + ": ";
    };
    const auto finish = [&]() {
        if (!section) {
            return true;
        }
        std::string reason;
        auto drive = BuildDrive(*section, baseDirectory, options, reason);
        if (!drive) {
            error = where(section->line) + reason;
            return false;
        }
        if (!set.Add(std::move(drive))) {
            error = where(section->line) + "another drive already has this address";
            return false;
        }
        return true;
    };
    std::istringstream lines(text);
    int number = 0;
    for (std::string raw; std::getline(lines, raw);) {
        ++number;
        const std::string line = Trim(StripComment(raw));
        if (line.empty()) {
            continue;
        }
        if (line == "[drive]") {
            if (!finish()) {
                return std::nullopt;
            }
            section.emplace();
            section->line = number;
            continue;
        }
        const size_t equals = line.find('=');
        if (!section || equals == std::string::npos) {
            error = where(number) + (section ? "expected 'key = value'" : "expected '[drive]'");
            return std::nullopt;
        }
        const std::string key = Trim(line.substr(0, equals));
        const auto setter = Setters().find(key);
        if (setter == Setters().end()) {
            error = where(number) + "unknown key '" + key + "'";
            return std::nullopt;
        }
        try {
            setter->second(*section, Trim(line.substr(equals + 1)));
        } catch (const ValueError& fault) {
            error = where(number) + key + ": " + fault.message;
            return std::nullopt;
        }
    }
    if (!finish()) {
        return std::nullopt;
    }
    if (set.Count() == 0) {
        error = sourceName + ": describes no drive";
        return std::nullopt;
    }
    return set;
}

Drive* DriveSet::Find(uint8_t adapter, uint8_t target, uint8_t lun) {
    for (const auto& drive : drives_) {
        const DriveSettings& s = drive->Settings();
        if (s.adapter == adapter && s.target == target && s.lun == lun) {
            return drive.get();
        }
    }
    return nullptr;
}

bool DriveSet::Add(std::unique_ptr<Drive> drive) {
    const DriveSettings& s = drive->Settings();
    if (Find(s.adapter, s.target, s.lun) != nullptr) {
        return false;
    }
    drives_.push_back(std::move(drive));
    return true;
}

std::unique_ptr<Disc> MakePatternDisc(uint64_t sectors, uint64_t patternSeed,
                                      const DiscSpec& spec) {
    std::string error;
    return Disc::Create(std::make_unique<PatternSource>(sectors, patternSeed), spec, error);
}

}  // namespace simdrive
