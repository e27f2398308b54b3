#include "report/comparison/comparison.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <future>

#include "report/comparison/bit_counts.h"
#include "report/comparison/cd_format.h"

namespace report {
namespace {

constexpr std::int64_t kBlockSectors = 512;
// Pointer sectors kept on either side of a block, for shifts of up to 3 sectors.
constexpr std::int64_t kMarginSectors = 3;
constexpr std::int32_t kMaxShiftBytes = 3 * kC2Bytes;
constexpr std::int32_t kMaxShiftBits = 16;  // single-bit shifts tried near the literal alignment
constexpr std::int64_t kPadBytes = 32;
constexpr std::int64_t kSectorBits = kSectorBytes;  // one pointer bit per audio byte
constexpr std::int64_t kMaskWords = (kC2Bytes + 7) / 8;

// Swaps left and right in every frame, for a drive that delivers them the other way round.
void SwapFrames(std::span<std::uint8_t> audio) {
    for (std::size_t i = 0; i + 4 <= audio.size(); i += 4) {
        std::swap(audio[i], audio[i + 2]);
        std::swap(audio[i + 1], audio[i + 3]);
    }
}

bool AllZero(const std::uint8_t* bytes, std::int64_t count) {
    return std::all_of(bytes, bytes + count, [](std::uint8_t b) { return b == 0; });
}

// Room for the sector's 294 pointer bytes read as whole 64-bit words (37 words, 296 bytes).
using PointerWords = std::array<std::uint8_t, kMaskWords * 8>;

// The 294 pointer bytes that start at bit `position` of `stream`.
const std::uint8_t* FlagsAt(const std::uint8_t* stream, std::int64_t position,
                            PointerWords& scratch) {
    const std::uint8_t* p = stream + (position >> 3);
    const int shift = static_cast<int>(position & 7);
    if (shift == 0) {
        return p;
    }
    for (std::int64_t k = 0; k < kC2Bytes; ++k) {
        scratch[k] = static_cast<std::uint8_t>(p[k] << shift | p[k + 1] >> (8 - shift));
    }
    return scratch.data();
}

// Word j of a sector's pointer mask: bits past the 294th byte are cleared.
std::uint64_t MaskWord(const std::uint8_t* pointers, std::int64_t j) {
    constexpr int kTailBits = 64 * kMaskWords - 8 * kC2Bytes;
    const std::uint64_t word = LoadBits(pointers, 64 * j);
    return j + 1 < kMaskWords ? word : word >> kTailBits << kTailBits;
}

// The set bits of a sector's 294 pointer bytes (which must be readable as 296).
std::uint64_t CountFlags(const std::uint8_t* pointers) {
    std::uint64_t count = 0;
    for (std::int64_t j = 0; j < kMaskWords; ++j) {
        count += static_cast<std::uint64_t>(Count(MaskWord(pointers, j)));
    }
    return count;
}

// One bit per wrong byte among the 64 audio bytes of pointer word j (pointer order).
std::uint64_t WrongWord(const std::uint8_t* audio, const std::uint8_t* expected, std::int64_t j) {
    std::uint64_t wrong = 0;
    const std::int64_t bytes = std::min<std::int64_t>(8, kC2Bytes - 8 * j);
    for (std::int64_t b = 0; b < bytes; ++b) {
        const std::int64_t at = 64 * j + 8 * b;
        const std::uint64_t difference = LoadLe64(audio + at) ^ LoadLe64(expected + at);
        wrong |= static_cast<std::uint64_t>(WrongByteMask(difference)) << (56 - 8 * b);
    }
    return wrong;
}

// Counts one sector; `wrongMask` receives one bit per wrong byte (pointer order). `flags` must
// be readable as 296 bytes.
SectorCounts CountSector(const std::uint8_t* audio, const std::uint8_t* expected,
                         const std::uint8_t* flags, std::uint8_t* wrongMask) {
    const bool same = std::memcmp(audio, expected, kSectorBytes) == 0;
    if (same && AllZero(flags, kC2Bytes)) {
        return SectorCounts{};  // the common case: a clean sector, nothing flagged
    }
    int wrongBytes = 0, flaggedBytes = 0, detectedBytes = 0;
    int wrongSamples = 0, flaggedSamples = 0, detectedSamples = 0, falseOnWrongSample = 0;
    for (std::int64_t j = 0; j < kMaskWords; ++j) {
        const std::uint64_t wrong = same ? 0 : WrongWord(audio, expected, j);
        const std::uint64_t flag = MaskWord(flags, j);
        StoreBits(wrongMask + 8 * j, wrong);
        wrongBytes += Count(wrong);
        flaggedBytes += Count(flag);
        detectedBytes += Count(wrong & flag);
        falseOnWrongSample += FalseFlagsOnWrongSamples(wrong, flag);
        const std::uint64_t wrongSample = SampleMask(wrong);
        const std::uint64_t flagSample = SampleMask(flag);
        wrongSamples += Count(wrongSample);
        flaggedSamples += Count(flagSample);
        detectedSamples += Count(wrongSample & flagSample);
    }
    auto narrow = [](int v) { return static_cast<std::uint16_t>(v); };
    return SectorCounts{
        narrow(wrongBytes),         narrow(flaggedBytes),         narrow(detectedBytes),
        narrow(wrongSamples),       narrow(flaggedSamples),       narrow(detectedSamples),
        narrow(falseOnWrongSample), flaggedBytes == kSectorBytes, false};
}

// Adds, for every candidate shift, the wrong bytes of one sector whose moved flag is set. Only
// the mask's words with a wrong byte can add anything, and a damaged sector has few.
void ScoreSector(const std::uint8_t* wrongMask, const std::uint8_t* stream, std::int64_t start,
                 std::vector<ShiftScore>& scores) {
    std::array<std::uint64_t, kMaskWords> words{};
    std::array<std::int64_t, kMaskWords> at{};
    std::size_t used = 0;
    for (std::int64_t j = 0; j < kMaskWords; ++j) {
        const std::uint64_t word = LoadBits(wrongMask, 64 * j);  // zero past the 294 bytes
        if (word != 0) {
            words[used] = word;
            at[used++] = start + 64 * j;
        }
    }
    for (ShiftScore& score : scores) {
        std::uint64_t detected = 0;
        for (std::size_t k = 0; k < used; ++k) {
            detected += Count(words[k] & LoadBits(stream, at[k] + score.shift.bits));
        }
        score.bytes.detected += detected;
    }
}

void Add(Tally& tally, std::uint64_t wrong, std::uint64_t flagged, std::uint64_t detected) {
    tally.wrong += wrong;
    tally.flagged += flagged;
    tally.detected += detected;
}

// Set bits of a stretch of the pointer stream, counted by prefix sums: Between(a, b) counts
// the set bits in [a, b) of the whole file's stream, both inside the stretch.
class StreamBits {
public:
    // The stretch read from the file: bytes [firstByte, firstByte + count).
    [[nodiscard]] bool Load(BlockSource& c2, std::int64_t firstByte, std::int64_t count) {
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count));
        if (!c2.Read(firstByte, bytes)) {
            return false;
        }
        Take(bytes.data(), firstByte, count);
        return true;
    }
    // The stretch already in memory: `bytes` holds the stream's bytes from `firstByte` on.
    void Take(const std::uint8_t* bytes, std::int64_t firstByte, std::int64_t count) {
        firstBit_ = firstByte * 8;
        prefix_.assign(static_cast<std::size_t>(count) * 8 + 1, 0);
        for (std::size_t bit = 0; bit + 1 < prefix_.size(); ++bit) {
            prefix_[bit + 1] = prefix_[bit] + ((bytes[bit >> 3] >> (7 - (bit & 7))) & 1);
        }
    }
    [[nodiscard]] std::uint64_t Between(std::int64_t a, std::int64_t b) const {
        return prefix_[static_cast<std::size_t>(b - firstBit_)] -
               prefix_[static_cast<std::size_t>(a - firstBit_)];
    }

private:
    std::int64_t firstBit_ = 0;
    std::vector<std::uint64_t> prefix_;
};

// A zero-filled sector stays out of the verdict, so the flags a moved alignment would put into
// it must stay out of that alignment's score too; else the drive's own flags for a failed read,
// delivered late, count against the very shift that explains them.
void UnscoreZeroFilled(const std::uint8_t* stream, std::int64_t start,
                       std::vector<ShiftScore>& scores) {
    StreamBits around;
    const std::int64_t firstByte = start / 8 - kMaxShiftBytes;
    around.Take(stream + firstByte, firstByte, kC2Bytes + 2 * kMaxShiftBytes);
    for (ShiftScore& score : scores) {
        score.bytes.flagged -=
            around.Between(start + score.shift.bits, start + score.shift.bits + kSectorBits);
    }
}

struct BlockBuffers {
    std::vector<std::uint8_t> audio = std::vector<std::uint8_t>(kBlockSectors * kSectorBytes);
    std::vector<std::uint8_t> expected = std::vector<std::uint8_t>(kBlockSectors * kSectorBytes);
    std::vector<std::uint8_t> stream =
        std::vector<std::uint8_t>((kBlockSectors + 2 * kMarginSectors) * kC2Bytes + kPadBytes);
};

// Reads the block of sectors from `first` on: the drive's audio and pointers on a helper
// thread, the reference's audio here.
bool ReadBlock(const ComparisonFiles& files, std::int64_t first, BlockBuffers& block) {
    const std::int64_t count = std::min(kBlockSectors, files.endCompared - first);
    auto driveSide = std::async(std::launch::async, [&] {
        return files.drive->Read(first * kSectorBytes,
                                 std::span(block.audio).first(count * kSectorBytes)) &&
               files.c2->Read(
                   (first - kMarginSectors) * kC2Bytes,
                   std::span(block.stream).first((count + 2 * kMarginSectors) * kC2Bytes));
    });
    const auto expected = std::span(block.expected).first(count * kSectorBytes);
    const bool referenceRead =
        files.reference->Read(first * kSectorBytes + files.offsetFrames * kFrameBytes, expected);
    if (referenceRead && files.channelsSwapped) {
        SwapFrames(expected);
    }
    return driveSide.get() && referenceRead;
}

}  // namespace

std::int32_t C2Shift::Sectors() const {
    return bits / static_cast<std::int32_t>(kSectorBits);
}

std::int32_t C2Shift::Bytes() const {
    return bits % static_cast<std::int32_t>(kSectorBits) / 8;
}

std::int32_t C2Shift::BitsLeft() const {
    return bits % 8;
}

std::string C2Shift::Describe() const {
    if (bits == 0) {
        return "as delivered";
    }
    std::string text;
    auto part = [&](std::int32_t count, const char* unit) {
        if (count != 0) {
            const std::int32_t size = count < 0 ? -count : count;
            text += (text.empty() ? "" : " + ") + std::to_string(size) + " " + unit +
                    (size == 1 ? "" : "s");
        }
    };
    part(Sectors(), "sector");
    part(Bytes(), "byte");
    part(BitsLeft(), "bit");
    return text + (bits > 0 ? " late" : " early");
}

std::vector<C2Shift> CandidateShifts() {
    std::vector<C2Shift> shifts{{0}};
    for (std::int32_t size = 1; size <= kMaxShiftBytes * 8; ++size) {
        if (size % 8 == 0 || size <= kMaxShiftBits) {
            shifts.push_back({-size});
            shifts.push_back({size});
        }
    }
    return shifts;
}

bool ComparePass(const ComparisonFiles& files, C2Shift shift, bool scoreShifts,
                 PassResult& result) {
    result = PassResult{};
    result.sectors.assign(static_cast<std::size_t>(files.sectors), SectorCounts{});
    if (scoreShifts) {
        for (const C2Shift& candidate : CandidateShifts()) {
            result.shifts.push_back({candidate, {}});
        }
    }
    const std::int64_t begin = files.firstCompared, end = files.endCompared;
    if (end <= begin) {
        return true;
    }
    // Two sets of block buffers: the next block is read (both files at once) while this one
    // is counted, so the comparison runs at the speed of the slower file.
    std::array<BlockBuffers, 2> buffers;
    std::future<bool> next =
        std::async(std::launch::async, ReadBlock, std::cref(files), begin, std::ref(buffers[0]));
    PointerWords moved{};
    std::array<std::uint8_t, kMaskWords * 8 + 8> wrongMask{};
    std::uint64_t allFlags = 0;
    for (std::int64_t first = begin, index = 0; first < end; first += kBlockSectors, index ^= 1) {
        const std::int64_t count = std::min(kBlockSectors, end - first);
        if (!next.get()) {
            return false;
        }
        if (first + kBlockSectors < end) {
            next = std::async(std::launch::async, ReadBlock, std::cref(files),
                              first + kBlockSectors, std::ref(buffers[index ^ 1]));
        }
        const std::vector<std::uint8_t>& audio = buffers[index].audio;
        const std::vector<std::uint8_t>& expected = buffers[index].expected;
        const std::vector<std::uint8_t>& stream = buffers[index].stream;
        for (std::int64_t s = 0; s < count; ++s) {
            const std::int64_t start = (s + kMarginSectors) * kSectorBits;
            const std::uint8_t* own = stream.data() + start / 8;
            allFlags += CountFlags(own);
            const std::uint8_t* flags = FlagsAt(stream.data(), start + shift.bits, moved);
            const std::uint8_t* delivered = audio.data() + s * kSectorBytes;
            SectorCounts counts =
                CountSector(delivered, expected.data() + s * kSectorBytes, flags, wrongMask.data());
            if (counts.wrongBytes > 0) {
                ++result.sectorsWithErrors;
                // Zeros where audio belongs and no pointers of its own: the read failed. The
                // host saw that failure, so these bytes say nothing about the C2 pointers.
                counts.zeroFilled = AllZero(own, kC2Bytes) && AllZero(delivered, kSectorBytes);
            }
            if (counts.zeroFilled) {
                if (scoreShifts) {
                    UnscoreZeroFilled(stream.data(), start, result.shifts);
                }
                ++result.zeroFilledSectors;
                result.undeliveredBytes += counts.wrongBytes;
            } else {
                if (scoreShifts && counts.wrongBytes > 0) {
                    ScoreSector(wrongMask.data(), stream.data(), start, result.shifts);
                }
                Add(result.bytes, counts.wrongBytes, counts.flaggedBytes, counts.detectedBytes);
                Add(result.samples, counts.wrongSamples, counts.flaggedSamples,
                    counts.detectedSamples);
                AddSector(counts.wrongBytes, counts.flaggedBytes, counts.detectedBytes,
                          counts.falseOnWrongSample, counts.flaggedWhole, result.granularity);
            }
            result.sectors[static_cast<std::size_t>(first + s)] = counts;
        }
    }
    // A moved candidate's flags are the stream's bits [begin + shift, end + shift): those that
    // cross either edge of the compared range are lost or gained.
    StreamBits head, tail;
    auto around = [&](StreamBits& bits, std::int64_t sector) {
        return bits.Load(*files.c2, sector * kC2Bytes - kMaxShiftBytes, 2 * kMaxShiftBytes);
    };
    if (!result.shifts.empty() && (!around(head, begin) || !around(tail, end))) {
        return false;
    }
    const std::int64_t first = begin * kSectorBits, last = end * kSectorBits;
    for (ShiftScore& score : result.shifts) {
        const std::int64_t bits = score.shift.bits;
        const std::uint64_t gained =
            bits > 0 ? tail.Between(last, last + bits) : head.Between(first + bits, first);
        const std::uint64_t lost =
            bits > 0 ? head.Between(first, first + bits) : tail.Between(last + bits, last);
        score.bytes.wrong = result.bytes.wrong;
        // Flags already taken out for zero-filled sectors stay out (unsigned wrap-around).
        score.bytes.flagged += allFlags + gained - lost;
    }
    return true;
}

ShiftScore BestShift(const std::vector<ShiftScore>& scores) {
    auto mismatches = [](const ShiftScore& s) {
        return s.bytes.wrong + s.bytes.flagged - 2 * s.bytes.detected;
    };
    ShiftScore best = scores.front();
    for (const ShiftScore& score : scores) {
        if (mismatches(score) < mismatches(best)) {
            best = score;
        }
    }
    // A moved alignment must explain at least a tenth of what the literal one leaves wrong.
    const std::uint64_t literal = mismatches(scores.front());
    return mismatches(best) * 10 <= literal * 9 ? best : scores.front();
}

}  // namespace report
