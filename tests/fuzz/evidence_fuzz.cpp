// The evidence decoder over untrusted text: the first byte chooses whether the rest is the text
// itself (base64 and zlib under test) or a raw form, packed here, so that the fuzzer reaches the
// raw form's rules. Accepted evidence must hold what the rules promise, its streams must read
// within bounds, and a short pass must come back the same when its evidence is built again from
// the streams it rebuilds.
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "report/comparison/cd_format.h"
#include "report/submission/base64.h"
#include "report/submission/evidence.h"
#include "report/submission/evidence_reader.h"
#include "tests/fuzz/runtime_checks.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// A reference of 40 sectors of a pattern, silence outside.
class PatternReference final : public report::BlockSource {
public:
    [[nodiscard]] std::uint64_t Length() const override { return 40 * report::kSectorBytes; }
    [[nodiscard]] bool Read(std::int64_t position, std::span<std::uint8_t> out) override {
        for (std::size_t i = 0; i < out.size(); ++i) {
            const std::int64_t at = position + static_cast<std::int64_t>(i);
            const bool inside = at >= 0 && at < static_cast<std::int64_t>(Length());
            out[i] = inside ? static_cast<std::uint8_t>((at * 31) ^ (at >> 9)) : 0;
        }
        return true;
    }
};

// A stream held in memory, as the pass's files would be.
class MemorySource final : public report::BlockSource {
public:
    explicit MemorySource(Bytes bytes) : bytes_(std::move(bytes)) {}
    [[nodiscard]] std::uint64_t Length() const override { return bytes_.size(); }
    [[nodiscard]] bool Read(std::int64_t position, std::span<std::uint8_t> out) override {
        for (std::size_t i = 0; i < out.size(); ++i) {
            const std::int64_t at = position + static_cast<std::int64_t>(i);
            const bool inside = at >= 0 && at < static_cast<std::int64_t>(bytes_.size());
            out[i] = inside ? bytes_[static_cast<std::size_t>(at)] : 0;
        }
        return true;
    }

private:
    Bytes bytes_;
};

std::string Packed(std::span<const std::uint8_t> raw) {
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    Bytes packed(size);
    Check(compress(packed.data(), &size, raw.data(), static_cast<uLong>(raw.size())) == Z_OK);
    return report::Base64Encode(std::span(packed).first(size));
}

void CheckRuns(const report::ByteRuns& runs, std::uint64_t streamBytes) {
    std::int64_t end = -1;
    for (const report::ByteRun& run : runs.runs) {
        Check(run.start > end && run.length > 0);
        end = run.start + run.length;
        Check(end <= static_cast<std::int64_t>(streamBytes));
        Check(run.valuesAt + static_cast<std::size_t>(run.length) <= runs.values.size());
    }
}

void CheckRules(const report::Evidence& e) {
    Check(e.sectors >= 0 && e.sectors <= report::kEvidenceMaxSectors);
    Check(std::is_sorted(e.zeroFilled.begin(), e.zeroFilled.end()));
    Check(std::adjacent_find(e.zeroFilled.begin(), e.zeroFilled.end()) == e.zeroFilled.end());
    Check(e.zeroFilled.empty() || (e.zeroFilled.front() >= 0 && e.zeroFilled.back() < e.sectors));
    CheckRuns(e.audio, e.AudioBytes());
    CheckRuns(e.pointers, e.PointerBytes());
}

Bytes Whole(report::BlockSource& source) {
    Bytes bytes(source.Length());
    Check(source.Read(0, bytes));
    return bytes;
}

// Built again from the streams it rebuilds, the evidence gives back the same streams.
void CheckRoundTrip(const report::Evidence& evidence, report::BlockSource& reference) {
    report::EvidenceAudio audio(evidence, reference);
    report::EvidencePointers pointers(evidence);
    const Bytes audioBytes = Whole(audio);
    const Bytes pointerBytes = Whole(pointers);
    MemorySource audioFile(audioBytes);
    MemorySource pointerFile(pointerBytes);
    const report::BuiltEvidence built = report::BuildEvidence(
        {&reference, &audioFile, &pointerFile, evidence.offsetFrames, evidence.sectors});
    Check(built.status == report::EvidenceStatus::built);
    const report::DecodedEvidence again = report::DecodeEvidence(built.text);
    Check(again.evidence.has_value());
    report::EvidenceAudio audioAgain(*again.evidence, reference);
    report::EvidencePointers pointersAgain(*again.evidence);
    Check(Whole(audioAgain) == audioBytes);
    Check(Whole(pointersAgain) == pointerBytes);
}

// Reads at both ends and across the first runs, each within bounds.
void ReadAround(const report::Evidence& evidence, report::BlockSource& reference) {
    report::EvidenceAudio audio(evidence, reference);
    std::array<std::uint8_t, 3000> out{};
    const auto length = static_cast<std::int64_t>(audio.Length());
    for (const std::int64_t at : {std::int64_t{-5}, std::int64_t{0}, length - 2999, length - 1}) {
        Check(audio.Read(at, out));
    }
    const report::ByteRuns& runs = evidence.audio;
    for (std::size_t i = 0; i < std::min<std::size_t>(runs.runs.size(), 8); ++i) {
        Check(audio.Read(runs.runs[i].start - 100, out));
        Check(out[100] == runs.values[runs.runs[i].valuesAt]);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::AbortOnRuntimeError();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::span<const std::uint8_t> rest(data + 1, size - 1);
    const std::string text =
        (data[0] & 1) != 0 ? std::string(reinterpret_cast<const char*>(rest.data()), rest.size())
                           : Packed(rest);
    const report::DecodedEvidence decoded = report::DecodeEvidence(text);
    Check(decoded.evidence.has_value() == decoded.error.empty());
    if (!decoded.evidence) {
        return 0;
    }
    CheckRules(*decoded.evidence);
    PatternReference reference;
    ReadAround(*decoded.evidence, reference);
    if (decoded.evidence->sectors <= 48) {
        CheckRoundTrip(*decoded.evidence, reference);
    }
    return 0;
}
