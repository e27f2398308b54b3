// A pass's evidence: with the reference, everything needed to rebuild the pass's files byte for
// byte and judge them again, a small fraction of their size. It holds the pass's length, the
// drive's offset, the sectors that came back as silence, every byte where the audio differs from
// the reference at that offset (the reference is silence outside its length), and every pointer
// byte that is not zero. Pointers are kept byte by byte, not sector by sector: a drive that
// raises a few false flags in every sector would otherwise fill the evidence with zeros.
//
// Stored form: the raw form below, zlib-compressed, then base64. Raw form, every number an
// unsigned LEB128 varint: version (1); sectors; offset in samples (zigzag); the zero-filled
// sectors (count, then each as the gap after the previous one); the runs of audio bytes that
// differ (count, then each as its gap after the previous run, its length less one, and its
// bytes); the runs of pointer bytes that are not zero, likewise. Gaps count from one past the
// previous entry (for runs, which never touch, from two past), so entries are sorted and apart
// by construction.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "report/comparison/block_reader.h"

namespace report {

inline constexpr std::int64_t kEvidenceMaxSectors = 450'000;  // beyond the longest CD
inline constexpr std::size_t kEvidenceMaxRawBytes = 64u << 20;

struct ByteRun {
    std::int64_t start = 0;  // byte of the pass's stream
    std::int64_t length = 0;
    std::size_t valuesAt = 0;  // its bytes in ByteRuns::values
};

// Bytes of a stream that differ from what it holds without them, in sorted runs apart.
struct ByteRuns {
    std::vector<ByteRun> runs;
    std::vector<std::uint8_t> values;
};

struct Evidence {
    std::int64_t sectors = 0;
    std::int32_t offsetFrames = 0;  // the drive's read offset, in samples (stereo frames)
    std::vector<std::int64_t> zeroFilled;
    ByteRuns audio;     // against the reference at the offset
    ByteRuns pointers;  // against zeros

    [[nodiscard]] std::uint64_t AudioBytes() const;
    [[nodiscard]] std::uint64_t PointerBytes() const;
};

// A pass's files as the comparison reads them: the reference's audio region, the pass's audio
// region and its pointer file, with the offset the alignment found.
struct PassSources {
    BlockSource* reference = nullptr;
    BlockSource* audio = nullptr;
    BlockSource* c2 = nullptr;
    std::int32_t offsetFrames = 0;
    std::int64_t sectors = 0;
};

enum class EvidenceStatus : std::uint8_t { built, readError, tooLarge };

struct BuiltEvidence {
    EvidenceStatus status = EvidenceStatus::built;
    std::string text;  // base64 of the compressed raw form, when built
};

// One streaming pass over the files. Too large: the raw form would pass kEvidenceMaxRawBytes
// (a disc damaged over most of its length), which no reader accepts.
[[nodiscard]] BuiltEvidence BuildEvidence(const PassSources& pass);

struct DecodedEvidence {
    std::optional<Evidence> evidence;
    std::string error;  // the first rule broken, when there is no evidence
};

// Decodes untrusted text: refused, naming the rule, when it is not base64, does not inflate,
// inflates past kEvidenceMaxRawBytes, breaks the raw form or points outside the pass.
[[nodiscard]] DecodedEvidence DecodeEvidence(std::string_view text);

}  // namespace report
