#include "report/comparison/alignment.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <utility>
#include <vector>

#include "report/comparison/cd_format.h"

namespace report {
namespace {

constexpr std::int32_t kProbeCount = 24;
constexpr std::int32_t kProbeFrames = 1024;
// A quick look at every 16th frame throws out hopeless offsets before the full count.
constexpr std::int32_t kQuickStride = 16;
constexpr std::int32_t kQuickNeeded = kProbeFrames / kQuickStride / 4;

struct ProbeVote {
    std::int32_t offset = 0;
    bool swapped = false;
    std::int32_t best = 0;
    std::int32_t runnerUp = 0;
};

std::vector<std::uint32_t> ToFrames(std::span<const std::uint8_t> bytes) {
    std::vector<std::uint32_t> frames(bytes.size() / 4);
    std::memcpy(frames.data(), bytes.data(), frames.size() * 4);
    return frames;
}

// Silence, a constant or a slow ramp can match anywhere: such windows do not vote.
bool HasStructure(const std::vector<std::uint32_t>& frames) {
    std::int32_t changes = 0;
    for (std::size_t i = 1; i < frames.size(); ++i) {
        changes += frames[i] != frames[i - 1] ? 1 : 0;
    }
    return changes >= kProbeFrames / 2;
}

std::int32_t CountEqual(const std::uint32_t* a, const std::uint32_t* b, std::int32_t count,
                        std::int32_t stride) {
    std::int32_t equal = 0;
    for (std::int32_t i = 0; i < count; i += stride) {
        equal += a[i] == b[i] ? 1 : 0;
    }
    return equal;
}

std::uint32_t SwapChannels(std::uint32_t frame) {
    return frame >> 16 | frame << 16;
}

// The best and second-best offsets for one probe window; best < 0 when nothing matched.
ProbeVote ScoreProbe(const std::vector<std::uint32_t>& probe,
                     const std::vector<std::uint32_t>& reference, std::int32_t searchFrames) {
    ProbeVote vote{0, false, -1, 0};
    std::vector<std::uint32_t> swapped(reference.size());
    std::transform(reference.begin(), reference.end(), swapped.begin(), SwapChannels);
    for (const bool swap : {false, true}) {
        const std::uint32_t* image = swap ? swapped.data() : reference.data();
        for (std::int32_t offset = -searchFrames; offset <= searchFrames; ++offset) {
            const std::uint32_t* at = image + (offset + searchFrames);
            if (CountEqual(probe.data(), at, kProbeFrames, kQuickStride) < kQuickNeeded) {
                continue;
            }
            const std::int32_t score = CountEqual(probe.data(), at, kProbeFrames, 1);
            if (score > vote.best) {
                vote.runnerUp = std::max(vote.runnerUp, vote.best);
                vote = ProbeVote{offset, swap, score, vote.runnerUp};
            } else {
                vote.runnerUp = std::max(vote.runnerUp, score);
            }
        }
    }
    return vote;
}

}  // namespace

Alignment FindReadOffset(BlockSource& reference, BlockSource& drive, std::int32_t searchFrames) {
    Alignment result;
    const auto driveFrames = static_cast<std::int64_t>(drive.Length() / kFrameBytes);
    if (driveFrames < kProbeFrames) {
        result.failure = "The extraction is too short to find its read offset.";
        return result;
    }
    std::vector<std::uint8_t> probeBytes(kProbeFrames * kFrameBytes);
    std::vector<std::uint8_t> imageBytes((kProbeFrames + 2 * searchFrames) * kFrameBytes);
    std::map<std::pair<std::int32_t, bool>, std::vector<ProbeVote>> votes;
    const std::int64_t span = driveFrames - kProbeFrames;
    for (std::int32_t i = 0; i < kProbeCount; ++i) {
        const std::int64_t first = span * (2 * i + 1) / (2 * kProbeCount);
        if (!drive.Read(first * kFrameBytes, probeBytes) ||
            !reference.Read((first - searchFrames) * kFrameBytes, imageBytes)) {
            result.failure = "Cannot read the files while looking for the read offset.";
            return result;
        }
        const auto probe = ToFrames(probeBytes);
        if (!HasStructure(probe)) {
            continue;
        }
        ++result.probes;
        const ProbeVote vote = ScoreProbe(probe, ToFrames(imageBytes), searchFrames);
        // A window votes only for a clear winner: most frames equal, far ahead of the rest.
        if (vote.best >= kProbeFrames / 2 && vote.runnerUp * 4 < vote.best) {
            votes[{vote.offset, vote.swapped}].push_back(vote);
        }
    }
    if (result.probes == 0) {
        result.failure =
            "The extraction holds no audio with enough structure to find its read "
            "offset (is it silent?).";
        return result;
    }
    const auto winner = std::max_element(votes.begin(), votes.end(), [](auto& a, auto& b) {
        return a.second.size() < b.second.size();
    });
    if (winner == votes.end() ||
        winner->second.size() * 2 <= static_cast<std::size_t>(result.probes)) {
        result.failure = "No read offset within +/-" + std::to_string(searchFrames) +
                         " samples fits: the extraction does not match the reference (" +
                         std::to_string(winner == votes.end() ? 0 : winner->second.size()) +
                         " of " + std::to_string(result.probes) + " windows agree).";
        return result;
    }
    std::int64_t matched = 0;
    std::int32_t runnerUp = 0;
    for (const ProbeVote& vote : winner->second) {
        matched += vote.best;
        runnerUp = std::max(runnerUp, vote.runnerUp);
    }
    result.found = true;
    result.offsetFrames = winner->first.first;
    result.channelsSwapped = winner->first.second;
    result.agreeing = static_cast<std::int32_t>(winner->second.size());
    result.matchShare = static_cast<double>(matched) / (double{kProbeFrames} * result.agreeing);
    result.runnerUpShare = static_cast<double>(runnerUp) / kProbeFrames;
    return result;
}

namespace {

constexpr std::int64_t kSectorFrames = kSectorBytes / kFrameBytes;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    return a / b - (a % b != 0 && (a < 0) != (b < 0) ? 1 : 0);
}

}  // namespace

Coverage MeasureCoverage(std::int64_t referenceFrames, std::int64_t extractionSectors,
                         std::int32_t offsetFrames) {
    Coverage c;
    c.referenceSectors = FloorDiv(referenceFrames + kSectorFrames - 1, kSectorFrames);
    c.extractionSectors = extractionSectors;
    // Extraction sector s holds reference frames [s * 588 + offset, (s + 1) * 588 + offset).
    c.firstCompared =
        std::clamp<std::int64_t>(FloorDiv(-offsetFrames, kSectorFrames), 0, extractionSectors);
    c.endCompared =
        std::clamp<std::int64_t>(-FloorDiv(-(referenceFrames - offsetFrames), kSectorFrames),
                                 c.firstCompared, extractionSectors);
    const std::int64_t missing = std::max<std::int64_t>(c.referenceSectors - c.Compared(), 0);
    const std::int64_t uncoveredAtStart = std::max<std::int64_t>(offsetFrames, 0);
    c.missingAtStart = std::min(missing, (uncoveredAtStart + kSectorFrames / 2) / kSectorFrames);
    c.missingAtEnd = missing - c.missingAtStart;
    if (c.Compared() > 0) {
        const std::int64_t firstFrame = c.firstCompared * kSectorFrames + offsetFrames;
        const std::int64_t endFrame = c.endCompared * kSectorFrames + offsetFrames;
        c.samplesOutsideReference = std::max<std::int64_t>(-firstFrame, 0) +
                                    std::max<std::int64_t>(endFrame - referenceFrames, 0);
    }
    return c;
}

}  // namespace report
