// An extraction as the extraction program writes it, made by driving the simulated drive
// directly: the reference WAV of the disc's audio, <name>.wav and <name>.c2 read with READ CD
// (audio plus C2 pointers) in 24-sector commands, a failed one read again sector by sector and a
// sector that fails alone stored as zeros. Also the counts the report must arrive at, worked out
// from the model's truth.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

#include "report/comparison/comparison.h"
#include "simdrive/description.h"
#include "simdrive/drive.h"

namespace report_test {

struct Expected {
    report::Tally bytes;
    report::Tally samples;
    std::int64_t sectorsWithErrors = 0;
    std::int64_t zeroFilledSectors = 0;
    report::FlagGranularity granularity;
    std::vector<report::SectorCounts> sectors;
};

// A disc whose length differs from the reference's: the reference holds `referenceSectors` of
// the pattern (-1: as many as the disc); the disc's pattern is followed by `runOutSectors` of
// zeros, as track-at-once burning leaves before the lead-out.
struct Lengths {
    std::int64_t referenceSectors = -1;
    std::int64_t runOutSectors = 0;
};

class SimulatedExtraction {
public:
    // A disc of `sectors` of the pattern (plus the run-out of `lengths`).
    SimulatedExtraction(const simdrive::DriveSettings& settings, const simdrive::DiscSpec& spec,
                        std::int64_t sectors, std::uint64_t patternSeed = 11, Lengths lengths = {});

    // Writes Reference.wav, <name>.wav and <name>.c2 into `folder`.
    void Write(const std::filesystem::path& folder, const std::string& name = "Drive");

    // The counts with the pointers moved by `shiftSectors` whole sectors against the audio
    // (the pointers of sector s + shiftSectors judged against sector s's audio).
    [[nodiscard]] Expected Truth(std::int32_t shiftSectors = 0) const;

    [[nodiscard]] simdrive::Drive& Model() { return *drive_; }

private:
    std::int64_t sectors_;  // the disc's, run-out included
    std::int64_t referenceSectors_;
    std::uint64_t patternSeed_;
    std::unique_ptr<simdrive::Drive> drive_;
    std::vector<bool> delivered_;  // sectors whose read reached the host
};

}  // namespace report_test
