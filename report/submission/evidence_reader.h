// A pass's files rebuilt from the reference and its evidence: its audio and pointer streams as
// the comparison reads them, and its `.wav` and `.c2` bytes in order, to hash without writing
// them.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "report/comparison/block_reader.h"
#include "report/submission/evidence.h"

namespace report {

// The pass's audio: the reference's audio region at the evidence's offset (silence outside
// it), with the zero-filled sectors and the differing bytes put back. The comparison reads the
// pass and the reference on two threads, so `reference` must be a reader of its own.
class EvidenceAudio final : public BlockSource {
public:
    EvidenceAudio(const Evidence& evidence, BlockSource& reference)
        : evidence_(evidence), reference_(reference) {}

    [[nodiscard]] std::uint64_t Length() const override { return evidence_.AudioBytes(); }
    [[nodiscard]] bool Read(std::int64_t position, std::span<std::uint8_t> out) override;

private:
    const Evidence& evidence_;
    BlockSource& reference_;
};

// The pass's pointers: zeros but for the bytes the evidence holds.
class EvidencePointers final : public BlockSource {
public:
    explicit EvidencePointers(const Evidence& evidence) : evidence_(evidence) {}

    [[nodiscard]] std::uint64_t Length() const override { return evidence_.PointerBytes(); }
    [[nodiscard]] bool Read(std::int64_t position, std::span<std::uint8_t> out) override;

private:
    const Evidence& evidence_;
};

using ByteSink = std::function<void(std::span<const std::uint8_t>)>;

// Hands the pass's `.wav` (its 44-byte header, then the audio) to `wav` and its `.c2` to `c2`,
// block by block in file order. False on a read error of the reference.
[[nodiscard]] bool RebuildPassFiles(const Evidence& evidence, BlockSource& reference,
                                    const ByteSink& wav, const ByteSink& c2);

struct PassDigests {
    std::string wavSha256;
    std::string c2Sha256;
};

// The SHA-256 of the rebuilt files, to hold against those the submission records.
[[nodiscard]] std::optional<PassDigests> RebuiltDigests(const Evidence& evidence,
                                                        BlockSource& reference);

}  // namespace report
