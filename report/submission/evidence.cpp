#include "report/submission/evidence.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <limits>

#include "report/comparison/cd_format.h"
#include "report/submission/base64.h"

namespace report {
namespace {

constexpr std::uint64_t kRawVersion = 1;
constexpr std::int64_t kBlockSectors = 64;
constexpr std::int64_t kMaxOffsetFrames = kEvidenceMaxSectors * kSectorBytes / kFrameBytes;

// ---- the raw form's numbers ----

void PutVarint(std::vector<std::uint8_t>& out, std::uint64_t value) {
    while (value >= 0x80) {
        out.push_back(static_cast<std::uint8_t>(value | 0x80));
        value >>= 7;
    }
    out.push_back(static_cast<std::uint8_t>(value));
}

std::uint64_t ZigZag(std::int64_t value) {
    return (static_cast<std::uint64_t>(value) << 1) ^ static_cast<std::uint64_t>(value >> 63);
}

std::int64_t UnZigZag(std::uint64_t value) {
    return static_cast<std::int64_t>(value >> 1) ^ -static_cast<std::int64_t>(value & 1);
}

bool AllZero(std::span<const std::uint8_t> bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

// One section of sorted entries, each written as its gap after the previous one.
struct Section {
    std::vector<std::uint8_t> bytes;
    std::uint64_t count = 0;
    std::int64_t nextFree = 0;  // one past the previous entry

    void Entry(std::int64_t at, std::int64_t end) {
        PutVarint(bytes, static_cast<std::uint64_t>(at - nextFree));
        nextFree = end + 1;
        ++count;
    }
};

// Runs of bytes that differ, gathered in stream order.
class RunWriter {
public:
    void Differs(std::int64_t at, std::uint8_t value) {
        if (!pending_.empty() && at != start_ + static_cast<std::int64_t>(pending_.size())) {
            Close();
        }
        if (pending_.empty()) {
            start_ = at;
        }
        pending_.push_back(value);
    }

    void Close() {
        if (pending_.empty()) {
            return;
        }
        const auto length = static_cast<std::int64_t>(pending_.size());
        // Runs that touch are one run, so the next starts a byte past this one's end at least.
        section_.Entry(start_, start_ + length);
        PutVarint(section_.bytes, static_cast<std::uint64_t>(length - 1));
        section_.bytes.insert(section_.bytes.end(), pending_.begin(), pending_.end());
        pending_.clear();
    }

    [[nodiscard]] std::size_t Size() const { return section_.bytes.size() + pending_.size(); }
    [[nodiscard]] const Section& Closed() {
        Close();
        return section_;
    }

private:
    Section section_;
    std::vector<std::uint8_t> pending_;
    std::int64_t start_ = 0;
};

// Collects the three sections sector by sector.
class Collector {
public:
    void Sector(std::int64_t sector, std::span<const std::uint8_t> audio,
                std::span<const std::uint8_t> expected, std::span<const std::uint8_t> pointers) {
        const std::int64_t first = sector * kSectorBytes;
        if (AllZero(audio) && !AllZero(expected)) {
            audio_.Close();
            zeroFilled_.Entry(sector, sector);
        } else if (!std::equal(audio.begin(), audio.end(), expected.begin())) {
            for (std::size_t i = 0; i < audio.size(); ++i) {
                if (audio[i] != expected[i]) {
                    audio_.Differs(first + static_cast<std::int64_t>(i), audio[i]);
                }
            }
        }
        for (std::size_t i = 0; i < pointers.size(); ++i) {
            if (pointers[i] != 0) {
                pointers_.Differs(sector * kC2Bytes + static_cast<std::int64_t>(i), pointers[i]);
            }
        }
    }

    [[nodiscard]] std::size_t Size() const {
        return zeroFilled_.bytes.size() + audio_.Size() + pointers_.Size();
    }

    [[nodiscard]] std::vector<std::uint8_t> Raw(std::int64_t sectors, std::int32_t offsetFrames) {
        std::vector<std::uint8_t> raw;
        PutVarint(raw, kRawVersion);
        PutVarint(raw, static_cast<std::uint64_t>(sectors));
        PutVarint(raw, ZigZag(offsetFrames));
        const std::array<const Section*, 3> sections{&zeroFilled_, &audio_.Closed(),
                                                     &pointers_.Closed()};
        for (const Section* section : sections) {
            PutVarint(raw, section->count);
            raw.insert(raw.end(), section->bytes.begin(), section->bytes.end());
        }
        return raw;
    }

private:
    Section zeroFilled_;
    RunWriter audio_;
    RunWriter pointers_;
};

std::string Compressed(std::span<const std::uint8_t> raw) {
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    std::vector<std::uint8_t> packed(size);
    if (compress2(packed.data(), &size, raw.data(), static_cast<uLong>(raw.size()),
                  Z_BEST_COMPRESSION) != Z_OK) {
        return {};
    }
    return Base64Encode(std::span(packed).first(size));
}

// ---- decoding ----

struct Inflated {
    std::vector<std::uint8_t> raw;
    std::string error;
};

Inflated Inflate(std::span<const std::uint8_t> packed) {
    Inflated result;
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) {
        result.error = "cannot be decompressed here (zlib failed to start)";
        return result;
    }
    stream.next_in = const_cast<Bytef*>(packed.data());
    stream.avail_in = static_cast<uInt>(packed.size());
    std::array<std::uint8_t, 1 << 16> chunk{};
    int status = Z_OK;
    while (status == Z_OK) {
        stream.next_out = chunk.data();
        stream.avail_out = static_cast<uInt>(chunk.size());
        status = inflate(&stream, Z_NO_FLUSH);
        const std::size_t made = chunk.size() - stream.avail_out;
        if (result.raw.size() + made > kEvidenceMaxRawBytes) {
            result.error = "decompresses past 64 MB";
            break;
        }
        result.raw.insert(result.raw.end(), chunk.begin(), chunk.begin() + made);
    }
    if (result.error.empty() && status != Z_STREAM_END) {
        result.error = "does not decompress (not a whole zlib stream)";
    } else if (result.error.empty() && stream.avail_in != 0) {
        result.error = "has bytes after its compressed stream";
    }
    inflateEnd(&stream);
    return result;
}

class RawReader {
public:
    explicit RawReader(std::span<const std::uint8_t> raw) : raw_(raw) {}

    bool Varint(std::uint64_t& value) {
        value = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            if (at_ == raw_.size()) {
                return Fail("ends early");
            }
            const std::uint8_t byte = raw_[at_++];
            if (shift == 63 && byte > 1) {
                return Fail("holds a number longer than 64 bits");
            }
            value |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
            if (byte < 0x80) {
                return true;
            }
        }
        return Fail("holds a number longer than 64 bits");
    }

    bool Bytes(std::int64_t count, std::vector<std::uint8_t>& out) {
        if (static_cast<std::uint64_t>(count) > raw_.size() - at_) {
            return Fail("ends early");
        }
        out.insert(
            out.end(), raw_.begin() + static_cast<std::ptrdiff_t>(at_),
            raw_.begin() + static_cast<std::ptrdiff_t>(at_ + static_cast<std::size_t>(count)));
        at_ += static_cast<std::size_t>(count);
        return true;
    }

    // A count of entries each taking at least `entryBytes`: no more than the bytes left allow.
    bool Count(std::uint64_t& count, std::size_t entryBytes, const char* what) {
        if (!Varint(count)) {
            return false;
        }
        if (count > (raw_.size() - at_) / entryBytes) {
            return Fail(std::string("counts more ") + what + " than it holds");
        }
        return true;
    }

    // The entry after `nextFree` at the read gap: false (with the rule) beyond `limit`.
    bool Next(std::int64_t nextFree, std::int64_t limit, std::int64_t& at, const char* what) {
        std::uint64_t gap = 0;
        if (!Varint(gap)) {
            return false;
        }
        if (gap >= static_cast<std::uint64_t>(limit - std::min(nextFree, limit))) {
            return Fail(std::string("has ") + what + " outside the pass");
        }
        at = nextFree + static_cast<std::int64_t>(gap);
        return true;
    }

    bool Fail(std::string rule) {
        if (error_.empty()) {
            error_ = std::move(rule);
        }
        return false;
    }

    [[nodiscard]] std::size_t Left() const { return raw_.size() - at_; }
    [[nodiscard]] const std::string& Error() const { return error_; }

private:
    std::span<const std::uint8_t> raw_;
    std::size_t at_ = 0;
    std::string error_;
};

bool ReadHeader(RawReader& in, Evidence& evidence) {
    std::uint64_t version = 0, sectors = 0, offset = 0;
    if (!in.Varint(version) || !in.Varint(sectors) || !in.Varint(offset)) {
        return false;
    }
    if (version != kRawVersion) {
        return in.Fail("is of version " + std::to_string(version) + ", not 1");
    }
    if (sectors > static_cast<std::uint64_t>(kEvidenceMaxSectors)) {
        return in.Fail("says " + std::to_string(sectors) + " sectors, more than a CD holds");
    }
    const std::int64_t frames = UnZigZag(offset);
    if (frames < -kMaxOffsetFrames || frames > kMaxOffsetFrames) {
        return in.Fail("says an offset of " + std::to_string(frames) +
                       " samples, beyond a CD's length");
    }
    evidence.sectors = static_cast<std::int64_t>(sectors);
    evidence.offsetFrames = static_cast<std::int32_t>(frames);
    return true;
}

bool ReadZeroFilled(RawReader& in, Evidence& evidence) {
    std::uint64_t count = 0;
    if (!in.Count(count, 1, "zero-filled sectors")) {
        return false;
    }
    std::int64_t nextFree = 0;
    for (std::uint64_t i = 0; i < count; ++i) {
        std::int64_t sector = 0;
        if (!in.Next(nextFree, evidence.sectors, sector, "a zero-filled sector")) {
            return false;
        }
        evidence.zeroFilled.push_back(sector);
        nextFree = sector + 1;
    }
    return true;
}

// A difference inside a zero-filled sector would say two things of one byte.
bool InZeroFilled(const std::vector<std::int64_t>& zeroFilled, std::int64_t start,
                  std::int64_t end) {
    const auto sector =
        std::lower_bound(zeroFilled.begin(), zeroFilled.end(), start / kSectorBytes);
    return sector != zeroFilled.end() && *sector * kSectorBytes < end;
}

// What one section of runs is called in the rules, and what it must keep clear of.
struct RunRules {
    const char* entries;  // "differences"
    const char* entry;    // "a difference"
    std::int64_t streamBytes = 0;
    const std::vector<std::int64_t>* zeroFilled = nullptr;
};

bool ReadRuns(RawReader& in, const RunRules& rules, ByteRuns& out) {
    std::uint64_t count = 0;
    if (!in.Count(count, 3, rules.entries)) {
        return false;
    }
    std::int64_t nextFree = 0;
    for (std::uint64_t i = 0; i < count; ++i) {
        ByteRun run;
        std::uint64_t lengthLess = 0;
        if (!in.Next(nextFree, rules.streamBytes, run.start, rules.entry) ||
            !in.Varint(lengthLess)) {
            return false;
        }
        if (lengthLess >= static_cast<std::uint64_t>(rules.streamBytes - run.start)) {
            return in.Fail(std::string("has ") + rules.entries + " past the pass's end");
        }
        run.length = static_cast<std::int64_t>(lengthLess) + 1;
        if (rules.zeroFilled != nullptr &&
            InZeroFilled(*rules.zeroFilled, run.start, run.start + run.length)) {
            return in.Fail(std::string("has ") + rules.entry + " inside a zero-filled sector");
        }
        run.valuesAt = out.values.size();
        if (!in.Bytes(run.length, out.values)) {
            return false;
        }
        out.runs.push_back(run);
        nextFree = run.start + run.length + 1;
    }
    return true;
}

}  // namespace

std::uint64_t Evidence::AudioBytes() const {
    return static_cast<std::uint64_t>(sectors * kSectorBytes);
}

std::uint64_t Evidence::PointerBytes() const {
    return static_cast<std::uint64_t>(sectors * kC2Bytes);
}

BuiltEvidence BuildEvidence(const PassSources& pass) {
    std::vector<std::uint8_t> audio(kBlockSectors * kSectorBytes);
    std::vector<std::uint8_t> expected(audio.size());
    std::vector<std::uint8_t> pointers(kBlockSectors * kC2Bytes);
    Collector collector;
    for (std::int64_t first = 0; first < pass.sectors; first += kBlockSectors) {
        const std::int64_t count = std::min(kBlockSectors, pass.sectors - first);
        const auto a = std::span(audio).first(static_cast<std::size_t>(count * kSectorBytes));
        const auto e = std::span(expected).first(a.size());
        const auto p = std::span(pointers).first(static_cast<std::size_t>(count * kC2Bytes));
        if (!pass.audio->Read(first * kSectorBytes, a) ||
            !pass.reference->Read(first * kSectorBytes + pass.offsetFrames * kFrameBytes, e) ||
            !pass.c2->Read(first * kC2Bytes, p)) {
            return {EvidenceStatus::readError, {}};
        }
        for (std::int64_t s = 0; s < count; ++s) {
            const auto at = static_cast<std::size_t>(s);
            collector.Sector(first + s, a.subspan(at * kSectorBytes, kSectorBytes),
                             e.subspan(at * kSectorBytes, kSectorBytes),
                             p.subspan(at * kC2Bytes, kC2Bytes));
        }
        if (collector.Size() > kEvidenceMaxRawBytes) {
            return {EvidenceStatus::tooLarge, {}};
        }
    }
    const std::vector<std::uint8_t> raw = collector.Raw(pass.sectors, pass.offsetFrames);
    if (raw.size() > kEvidenceMaxRawBytes) {
        return {EvidenceStatus::tooLarge, {}};
    }
    return {EvidenceStatus::built, Compressed(raw)};
}

DecodedEvidence DecodeEvidence(std::string_view text) {
    DecodedEvidence result;
    const std::optional<std::vector<std::uint8_t>> packed = Base64Decode(text);
    if (!packed) {
        result.error = "evidence is not base64";
        return result;
    }
    const Inflated inflated = Inflate(*packed);
    if (!inflated.error.empty()) {
        result.error = "evidence " + inflated.error;
        return result;
    }
    RawReader in(inflated.raw);
    Evidence evidence;
    if (!ReadHeader(in, evidence) || !ReadZeroFilled(in, evidence) ||
        !ReadRuns(in,
                  {"differences", "a difference", static_cast<std::int64_t>(evidence.AudioBytes()),
                   &evidence.zeroFilled},
                  evidence.audio) ||
        !ReadRuns(in,
                  {"pointer bytes", "a pointer byte",
                   static_cast<std::int64_t>(evidence.PointerBytes()), nullptr},
                  evidence.pointers)) {
        result.error = "evidence " + in.Error();
        return result;
    }
    if (in.Left() != 0) {
        result.error = "evidence has more bytes after its end";
        return result;
    }
    result.evidence = std::move(evidence);
    return result;
}

}  // namespace report
