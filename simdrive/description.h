// Drive descriptions: plain text files that describe one or more simulated drives and their
// discs (see README.md in this folder for the format).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "simdrive/drive.h"

namespace simdrive {

// Environment variable that replaces the path of every WAV disc in a description.
inline constexpr const char* kWavOverrideVariable = "SIMDRIVE_WAV";

struct LoadOptions {
    std::string wavOverride;  // empty: use the paths of the description
    [[nodiscard]] static LoadOptions FromEnvironment();
};

class DriveSet {
public:
    // Loads a description file; on failure returns nothing and fills `error` with
    // "file:line: reason".
    [[nodiscard]] static std::optional<DriveSet> Load(const std::string& path,
                                                      const LoadOptions& options,
                                                      std::string& error);
    // Parses description text; relative WAV paths are taken from `baseDirectory`.
    [[nodiscard]] static std::optional<DriveSet> Parse(const std::string& text,
                                                       const std::string& baseDirectory,
                                                       const LoadOptions& options,
                                                       const std::string& sourceName,
                                                       std::string& error);

    [[nodiscard]] size_t Count() const { return drives_.size(); }
    [[nodiscard]] Drive& At(size_t index) { return *drives_.at(index); }
    // The drive at (adapter, target, lun), or null.
    [[nodiscard]] Drive* Find(uint8_t adapter, uint8_t target, uint8_t lun);
    // Adds a drive; false when its address is taken.
    [[nodiscard]] bool Add(std::unique_ptr<Drive> drive);

private:
    std::vector<std::unique_ptr<Drive>> drives_;
};

// A disc of `sectors` sectors of pattern audio, for tests.
[[nodiscard]] std::unique_ptr<Disc> MakePatternDisc(uint64_t sectors, uint64_t patternSeed,
                                                    const DiscSpec& spec = {});

}  // namespace simdrive
