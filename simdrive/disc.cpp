#include "simdrive/disc.h"

#include <algorithm>

#include "simdrive/hash.h"
#include "simdrive/scsi.h"

namespace simdrive {

namespace {

constexpr int64_t kMaxSectors = 449999;  // 100 minutes less one frame
constexpr size_t kMaxTracks = 99;

bool CheckScratch(const Scratch& scratch, std::string& error) {
    if (scratch.firstSector < 0 || scratch.sectorCount < 1) {
        error = "a scratch needs a first sector of 0 or more and at least one sector";
        return false;
    }
    if (!(scratch.byteErrorRate > 0.0 && scratch.byteErrorRate <= 1.0) || scratch.burstBytes < 1 ||
        scratch.burstBytes > kAudioBytes) {
        error = "a scratch needs an error rate in (0, 1] and a burst of 1 to 2352 bytes";
        return false;
    }
    return true;
}

}  // namespace

std::unique_ptr<Disc> Disc::Create(std::unique_ptr<AudioSource> audio, const DiscSpec& spec,
                                   std::string& error) {
    std::unique_ptr<Disc> disc(new Disc());
    disc->audio_ = std::move(audio);
    disc->imageBytes_ = disc->audio_->ByteCount();
    if (!disc->BuildLayout(spec, error) || !disc->BuildDamage(spec.damage, error)) {
        return nullptr;
    }
    return disc;
}

bool Disc::BuildLayout(const DiscSpec& spec, std::string& error) {
    const auto audioSectors = static_cast<int64_t>((imageBytes_ + kAudioBytes - 1) / kAudioBytes);
    if (audioSectors < 1 || audioSectors > kMaxSectors) {
        error = "audio must fill 1 to 449,999 sectors";
        return false;
    }
    std::vector<int64_t> starts = spec.trackStarts;
    if (starts.empty()) {
        starts.push_back(0);
    }
    if (starts.size() > kMaxTracks || !std::is_sorted(starts.begin(), starts.end()) ||
        std::adjacent_find(starts.begin(), starts.end()) != starts.end() || starts.front() < 0 ||
        starts.back() >= audioSectors) {
        error = "track starts must rise strictly inside the audio area (at most 99 tracks)";
        return false;
    }
    if (spec.dataSessionSectors > 0 && starts.size() == kMaxTracks) {
        error = "a data session needs a track of its own: at most 98 audio tracks with it";
        return false;
    }
    for (size_t i = 0; i < starts.size(); ++i) {
        tracks_.push_back(Track{static_cast<uint8_t>(i + 1), 1, false, starts[i]});
    }
    const auto lastAudio = static_cast<uint8_t>(starts.size());
    sessions_.push_back(Session{1, 1, lastAudio, false, audioSectors});
    if (spec.dataSessionSectors > 0) {
        const int64_t start = audioSectors + kFirstSessionGap;
        if (start + spec.dataSessionSectors > kMaxSectors) {
            error = "the data session runs past 100 minutes";
            return false;
        }
        const auto number = static_cast<uint8_t>(lastAudio + 1);
        tracks_.push_back(Track{number, 2, true, start});
        sessions_.push_back(Session{2, number, number, true, start + spec.dataSessionSectors});
    }
    return true;
}

bool Disc::BuildDamage(const DamageSpec& spec, std::string& error) {
    seed_ = spec.seed;
    std::vector<Scratch> scratches = spec.scratches;
    const int64_t audioSectors = AudioSectors();
    const RandomScratches& random = spec.random;
    if (random.count > 0) {
        if (random.sectorCount < 1 || random.count > 10000) {
            error = "random scratches must be 1 to 10,000 runs of at least one sector";
            return false;
        }
        const int64_t length = std::min(random.sectorCount, audioSectors);
        const auto places = static_cast<uint64_t>(audioSectors - length + 1);
        for (uint32_t i = 0; i < random.count; ++i) {
            const auto first = static_cast<int64_t>(Draw(seed_, Stream::scratchPlace, i) % places);
            scratches.push_back(Scratch{first, length, random.byteErrorRate, random.burstBytes});
        }
    }
    std::vector<int64_t> bounds;
    for (const Scratch& scratch : scratches) {
        if (!CheckScratch(scratch, error)) {
            return false;
        }
        // Damage past the audio is dropped: a description made for the 74-minute image then
        // also serves a shorter test image.
        bounds.push_back(std::min(scratch.firstSector, audioSectors));
        bounds.push_back(std::min(scratch.firstSector + scratch.sectorCount, audioSectors));
    }
    std::sort(bounds.begin(), bounds.end());
    bounds.erase(std::unique(bounds.begin(), bounds.end()), bounds.end());
    // Overlapping scratches: each elementary run takes the worst damage that covers it.
    for (size_t i = 0; i + 1 < bounds.size(); ++i) {
        Region region{bounds[i], bounds[i + 1], {}};
        for (const Scratch& scratch : scratches) {
            const bool covers = scratch.firstSector <= region.first &&
                                region.first < scratch.firstSector + scratch.sectorCount;
            if (covers && scratch.byteErrorRate > region.damage.byteErrorRate) {
                region.damage = SectorDamage{scratch.byteErrorRate, scratch.burstBytes};
            }
        }
        if (region.damage.Damaged()) {
            regions_.push_back(region);
        }
    }
    for (const int64_t sector : spec.unreadable) {
        if (sector < 0) {
            error = "unreadable sector " + std::to_string(sector) + " lies before the disc";
            return false;
        }
        if (sector < LeadOut()) {
            unreadable_.push_back(sector);
        }
    }
    std::sort(unreadable_.begin(), unreadable_.end());
    return true;
}

bool Disc::IsAudioSector(int64_t sector) const {
    return sector >= 0 && sector < AudioSectors();
}

bool Disc::ReadImage(int64_t position, std::span<uint8_t> out) {
    const auto size = static_cast<int64_t>(imageBytes_);
    const int64_t from = std::clamp<int64_t>(position, 0, size);
    const int64_t to = std::clamp<int64_t>(position + static_cast<int64_t>(out.size()), 0, size);
    if (from != position || to != position + static_cast<int64_t>(out.size())) {
        // Lead-in and lead-out areas deliver silence.
        std::fill(out.begin(), out.end(), 0);
    }
    if (to <= from) {
        return true;
    }
    return audio_->Read(
        static_cast<uint64_t>(from),
        out.subspan(static_cast<size_t>(from - position), static_cast<size_t>(to - from)));
}

SectorDamage Disc::DamageAt(int64_t discSector) const {
    auto after = std::upper_bound(regions_.begin(), regions_.end(), discSector,
                                  [](int64_t sector, const Region& r) { return sector < r.first; });
    if (after == regions_.begin()) {
        return {};
    }
    const Region& region = *std::prev(after);
    return discSector < region.end ? region.damage : SectorDamage{};
}

bool Disc::IsUnreadable(int64_t discSector) const {
    return std::binary_search(unreadable_.begin(), unreadable_.end(), discSector);
}

uint8_t Disc::CorruptionAt(int64_t position, const SectorDamage& damage) const {
    const auto place = static_cast<uint64_t>(position);
    if (Unit(Draw(seed_, Stream::corruption, place / damage.burstBytes)) >= damage.byteErrorRate) {
        return 0;
    }
    return static_cast<uint8_t>(1 + Draw(seed_, Stream::corruptValue, place) % 255);
}

}  // namespace simdrive
