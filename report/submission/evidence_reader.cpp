#include "report/submission/evidence_reader.h"

#include <algorithm>
#include <vector>

#include "report/comparison/cd_format.h"
#include "runtime/sha256.h"
#include "wav/wav_header.h"

namespace report {
namespace {

constexpr std::int64_t kBlockSectors = 64;

// Where [start, start + length) of the stream meets the request [position, position + size):
// the part to copy, as an offset into the entry and one into `out`, and its length.
struct Overlap {
    std::int64_t fromEntry = 0;
    std::int64_t intoOut = 0;
    std::int64_t length = 0;
};

Overlap Meet(std::int64_t start, std::int64_t length, std::int64_t position, std::int64_t size) {
    const std::int64_t first = std::max(start, position);
    const std::int64_t end = std::min(start + length, position + size);
    return {first - start, first - position, std::max<std::int64_t>(end - first, 0)};
}

// Puts the runs' bytes where they meet the request.
void ApplyRuns(const ByteRuns& runs, std::int64_t position, std::span<std::uint8_t> out) {
    const auto size = static_cast<std::int64_t>(out.size());
    auto run = std::lower_bound(
        runs.runs.begin(), runs.runs.end(), position,
        [](const ByteRun& r, std::int64_t at) { return r.start + r.length <= at; });
    for (; run != runs.runs.end() && run->start < position + size; ++run) {
        const Overlap o = Meet(run->start, run->length, position, size);
        std::copy_n(runs.values.begin() + static_cast<std::ptrdiff_t>(run->valuesAt) + o.fromEntry,
                    o.length, out.begin() + o.intoOut);
    }
}

// Zeros wherever the request leaves [0, length).
void SilenceOutside(std::int64_t length, std::int64_t position, std::span<std::uint8_t> out) {
    const auto size = static_cast<std::int64_t>(out.size());
    const std::int64_t from = std::clamp<std::int64_t>(-position, 0, size);
    const std::int64_t to = std::clamp<std::int64_t>(length - position, from, size);
    std::fill(out.begin(), out.begin() + from, 0);
    std::fill(out.begin() + to, out.end(), 0);
}

}  // namespace

bool EvidenceAudio::Read(std::int64_t position, std::span<std::uint8_t> out) {
    if (!reference_.Read(position + evidence_.offsetFrames * kFrameBytes, out)) {
        return false;
    }
    const auto size = static_cast<std::int64_t>(out.size());
    SilenceOutside(static_cast<std::int64_t>(Length()), position, out);
    const auto& zeroFilled = evidence_.zeroFilled;
    auto sector = std::lower_bound(zeroFilled.begin(), zeroFilled.end(),
                                   std::max<std::int64_t>(position, 0) / kSectorBytes);
    for (; sector != zeroFilled.end() && *sector * kSectorBytes < position + size; ++sector) {
        const Overlap o = Meet(*sector * kSectorBytes, kSectorBytes, position, size);
        std::fill_n(out.begin() + o.intoOut, o.length, 0);
    }
    ApplyRuns(evidence_.audio, position, out);
    return true;
}

bool EvidencePointers::Read(std::int64_t position, std::span<std::uint8_t> out) {
    std::fill(out.begin(), out.end(), 0);
    ApplyRuns(evidence_.pointers, position, out);
    return true;
}

bool RebuildPassFiles(const Evidence& evidence, BlockSource& reference, const ByteSink& wav,
                      const ByteSink& c2) {
    const wav::WavHeader header =
        wav::MakeWavHeader(static_cast<std::uint32_t>(evidence.AudioBytes()));
    wav(std::span(reinterpret_cast<const std::uint8_t*>(header.data()), header.size()));
    EvidenceAudio audio(evidence, reference);
    EvidencePointers pointers(evidence);
    std::vector<std::uint8_t> audioBlock(kBlockSectors * kSectorBytes);
    std::vector<std::uint8_t> pointerBlock(kBlockSectors * kC2Bytes);
    for (std::int64_t first = 0; first < evidence.sectors; first += kBlockSectors) {
        const auto count =
            static_cast<std::size_t>(std::min(kBlockSectors, evidence.sectors - first));
        const auto a = std::span(audioBlock).first(count * kSectorBytes);
        const auto p = std::span(pointerBlock).first(count * kC2Bytes);
        if (!audio.Read(first * kSectorBytes, a) || !pointers.Read(first * kC2Bytes, p)) {
            return false;
        }
        wav(a);
        c2(p);
    }
    return true;
}

std::optional<PassDigests> RebuiltDigests(const Evidence& evidence, BlockSource& reference) {
    runtime::Sha256 wavHash;
    runtime::Sha256 c2Hash;
    if (!RebuildPassFiles(
            evidence, reference, [&](std::span<const std::uint8_t> b) { wavHash.Update(b); },
            [&](std::span<const std::uint8_t> b) { c2Hash.Update(b); })) {
        return std::nullopt;
    }
    PassDigests digests{wavHash.FinalHex(), c2Hash.FinalHex()};
    if (digests.wavSha256.empty() || digests.c2Sha256.empty()) {
        return std::nullopt;
    }
    return digests;
}

}  // namespace report
