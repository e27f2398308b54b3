// A simulated disc: audio image, track and session layout, and its damage. Damage is a pure
// function of (seed, disc position), so two runs over the same description agree byte for byte.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "simdrive/audio_source.h"

namespace simdrive {

// Lead-out (6,750) + lead-in (4,500) + pre-gap (150) between the first and second session.
constexpr int64_t kFirstSessionGap = 11400;

struct Track {
    uint8_t number = 1;
    uint8_t session = 1;
    bool data = false;
    int64_t start = 0;
};

struct Session {
    uint8_t number = 1;
    uint8_t firstTrack = 1;
    uint8_t lastTrack = 1;
    bool data = false;
    int64_t leadOut = 0;  // first sector after the session's last track
};

// Sectors whose audio bytes come back wrong: each byte lies in a burst of `burstBytes` bytes
// that is corrupted with probability `byteErrorRate`.
struct Scratch {
    int64_t firstSector = 0;
    int64_t sectorCount = 1;
    double byteErrorRate = 0.01;
    uint32_t burstBytes = 8;
};

// Scratches placed over the audio area from the seed.
struct RandomScratches {
    uint32_t count = 0;
    int64_t sectorCount = 20;
    double byteErrorRate = 0.01;
    uint32_t burstBytes = 8;
};

struct DamageSpec {
    uint64_t seed = 1;
    std::vector<Scratch> scratches;
    RandomScratches random;
    std::vector<int64_t> unreadable;  // sectors that fail with a medium error
};

struct DiscSpec {
    std::vector<int64_t> trackStarts;  // audio track starts; empty means one track at sector 0
    int64_t dataSessionSectors = 0;    // a second, data session of this length; 0 for none
    DamageSpec damage;
};

// What damage a disc sector carries (zero rate: clean).
struct SectorDamage {
    double byteErrorRate = 0.0;
    uint32_t burstBytes = 1;
    [[nodiscard]] bool Damaged() const { return byteErrorRate > 0.0; }
};

class Disc {
public:
    // Null with `error` filled when the layout or damage does not fit the audio.
    [[nodiscard]] static std::unique_ptr<Disc> Create(std::unique_ptr<AudioSource> audio,
                                                      const DiscSpec& spec, std::string& error);

    [[nodiscard]] const std::vector<Track>& Tracks() const { return tracks_; }
    [[nodiscard]] const std::vector<Session>& Sessions() const { return sessions_; }
    [[nodiscard]] int64_t LeadOut() const { return sessions_.back().leadOut; }
    [[nodiscard]] int64_t AudioSectors() const { return sessions_.front().leadOut; }
    [[nodiscard]] bool IsAudioSector(int64_t sector) const;
    [[nodiscard]] uint64_t ImageBytes() const { return imageBytes_; }
    [[nodiscard]] uint64_t Seed() const { return seed_; }

    // Clean image bytes from `position` on; zeros where the range leaves the image.
    [[nodiscard]] bool ReadImage(int64_t position, std::span<uint8_t> out);
    [[nodiscard]] SectorDamage DamageAt(int64_t discSector) const;
    [[nodiscard]] bool IsUnreadable(int64_t discSector) const;
    // The XOR mask damage puts on the byte at image position `position` (0: intact).
    [[nodiscard]] uint8_t CorruptionAt(int64_t position, const SectorDamage& damage) const;

private:
    struct Region {
        int64_t first = 0;
        int64_t end = 0;
        SectorDamage damage;
    };
    Disc() = default;
    [[nodiscard]] bool BuildLayout(const DiscSpec& spec, std::string& error);
    [[nodiscard]] bool BuildDamage(const DamageSpec& spec, std::string& error);

    std::unique_ptr<AudioSource> audio_;
    uint64_t imageBytes_ = 0;
    uint64_t seed_ = 0;
    std::vector<Track> tracks_;
    std::vector<Session> sessions_;
    std::vector<Region> regions_;      // sorted, disjoint
    std::vector<int64_t> unreadable_;  // sorted
};

}  // namespace simdrive
