#include "report/comparison.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <future>

#include "report/bit_counts.h"
#include "report/cd_format.h"
#include "report/text.h"

namespace report {
namespace {

constexpr std::int64_t kBlockSectors = 512;
// Pointer sectors kept on either side of a block, for shifts of up to 2 sectors and 16 bytes.
constexpr std::int64_t kMarginSectors = 3;
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

// The 294 pointer bytes that start at bit `position` of `stream`.
const std::uint8_t* FlagsAt(const std::uint8_t* stream, std::int64_t position,
                            std::array<std::uint8_t, kC2Bytes>& scratch) {
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

// Counts one sector; `wrongMask` receives one bit per wrong byte (pointer order).
SectorCounts CountSector(const std::uint8_t* audio, const std::uint8_t* expected,
                         const std::uint8_t* flags, std::uint8_t* wrongMask) {
    int wrongBytes = 0, flaggedBytes = 0, detectedBytes = 0;
    int wrongSamples = 0, flaggedSamples = 0, detectedSamples = 0;
    const bool same = std::memcmp(audio, expected, kSectorBytes) == 0;
    if (same && AllZero(flags, kC2Bytes)) {
        return SectorCounts{};  // the common case: a clean sector, nothing flagged
    }
    for (std::int64_t k = 0; k < kC2Bytes; ++k) {
        const std::uint8_t wrong =
            same ? 0 : WrongByteMask(LoadLe64(audio + 8 * k) ^ LoadLe64(expected + 8 * k));
        const std::uint8_t flag = flags[k];
        wrongMask[k] = wrong;
        if ((wrong | flag) == 0) {
            continue;
        }
        wrongBytes += Count(wrong);
        flaggedBytes += Count(flag);
        detectedBytes += Count(wrong & flag);
        const std::uint8_t wrongSample = SampleMask(wrong);
        const std::uint8_t flagSample = SampleMask(flag);
        wrongSamples += Count(wrongSample);
        flaggedSamples += Count(flagSample);
        detectedSamples += Count(wrongSample & flagSample);
    }
    auto narrow = [](int v) { return static_cast<std::uint16_t>(v); };
    return SectorCounts{narrow(wrongBytes),
                        narrow(flaggedBytes),
                        narrow(detectedBytes),
                        narrow(wrongSamples),
                        narrow(flaggedSamples),
                        narrow(detectedSamples),
                        false};
}

// Adds, for every candidate shift, the wrong bytes of one sector whose moved flag is set.
void ScoreSector(const std::uint8_t* wrongMask, const std::uint8_t* stream, std::int64_t start,
                 std::vector<ShiftScore>& scores) {
    std::array<std::uint64_t, kMaskWords> words{};
    for (std::int64_t j = 0; j < kMaskWords; ++j) {
        words[j] = LoadBits(wrongMask, 64 * j);  // the mask's tail beyond 294 bytes is zero
    }
    for (ShiftScore& score : scores) {
        const std::int64_t from = start + score.shift.Bits();
        std::uint64_t detected = 0;
        for (std::int64_t j = 0; j < kMaskWords; ++j) {
            detected += Count(words[j] & LoadBits(stream, from + 64 * j));
        }
        score.bytes.detected += detected;
    }
}

void Add(Tally& tally, std::uint64_t wrong, std::uint64_t flagged, std::uint64_t detected) {
    tally.wrong += wrong;
    tally.flagged += flagged;
    tally.detected += detected;
}

// Set bits of the pointer file's stream in [from, to).
bool CountStreamBits(RegionReader& c2, std::int64_t from, std::int64_t to, std::uint64_t& count) {
    count = 0;
    if (to <= from) {
        return true;
    }
    const std::int64_t firstByte = from >> 3;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(((to + 7) >> 3) - firstByte));
    if (!c2.Read(firstByte, bytes)) {
        return false;
    }
    for (std::int64_t bit = from; bit < to; ++bit) {
        const std::int64_t local = bit - firstByte * 8;
        count += (bytes[local >> 3] >> (7 - (local & 7))) & 1;
    }
    return true;
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
    const std::int64_t count = std::min(kBlockSectors, files.sectors - first);
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

std::int64_t C2Shift::Bits() const {
    return sectors * kSectorBits + bytes;
}

std::string C2Shift::Describe() const {
    if (sectors == 0 && bytes == 0) {
        return "as delivered";
    }
    if (bytes == 0) {
        const bool one = sectors == 1 || sectors == -1;
        return "moved " + SignedNumber(sectors) + (one ? " sector" : " sectors") + " (pointers " +
               std::to_string(sectors > 0 ? sectors : -sectors) + (one ? " sector " : " sectors ") +
               (sectors > 0 ? "late)" : "early)");
    }
    return "moved " + SignedNumber(bytes) + (bytes == 1 || bytes == -1 ? " byte" : " bytes");
}

std::vector<C2Shift> CandidateShifts() {
    std::vector<C2Shift> shifts{{0, 0}};
    for (const std::int32_t sectors : {-2, -1, 1, 2}) {
        shifts.push_back({sectors, 0});
    }
    for (std::int32_t bytes = 1; bytes <= 16; ++bytes) {
        shifts.push_back({0, -bytes});
        shifts.push_back({0, bytes});
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
    // Two sets of block buffers: the next block is read (both files at once) while this one
    // is counted, so the comparison runs at the speed of the slower file.
    std::array<BlockBuffers, 2> buffers;
    std::future<bool> next = std::async(std::launch::async, ReadBlock, std::cref(files),
                                        std::int64_t{0}, std::ref(buffers[0]));
    std::array<std::uint8_t, kC2Bytes> moved{};
    std::array<std::uint8_t, kMaskWords * 8 + 8> wrongMask{};
    std::uint64_t allFlags = 0;
    for (std::int64_t first = 0, index = 0; first < files.sectors;
         first += kBlockSectors, index ^= 1) {
        const std::int64_t count = std::min(kBlockSectors, files.sectors - first);
        if (!next.get()) {
            return false;
        }
        if (first + kBlockSectors < files.sectors) {
            next = std::async(std::launch::async, ReadBlock, std::cref(files),
                              first + kBlockSectors, std::ref(buffers[index ^ 1]));
        }
        const std::vector<std::uint8_t>& audio = buffers[index].audio;
        const std::vector<std::uint8_t>& expected = buffers[index].expected;
        const std::vector<std::uint8_t>& stream = buffers[index].stream;
        for (std::int64_t s = 0; s < count; ++s) {
            const std::int64_t start = (s + kMarginSectors) * kSectorBits;
            const std::uint8_t* own = stream.data() + start / 8;
            for (std::int64_t k = 0; k < kC2Bytes; ++k) {
                allFlags += static_cast<std::uint64_t>(Count(own[k]));
            }
            const std::uint8_t* flags = FlagsAt(stream.data(), start + shift.Bits(), moved);
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
                ++result.zeroFilledSectors;
                result.undeliveredBytes += counts.wrongBytes;
            } else {
                if (scoreShifts && counts.wrongBytes > 0) {
                    ScoreSector(wrongMask.data(), stream.data(), start, result.shifts);
                }
                Add(result.bytes, counts.wrongBytes, counts.flaggedBytes, counts.detectedBytes);
                Add(result.samples, counts.wrongSamples, counts.flaggedSamples,
                    counts.detectedSamples);
            }
            result.sectors[static_cast<std::size_t>(first + s)] = counts;
        }
    }
    // A moved candidate loses the pointers that fall off either end of the file.
    const std::int64_t totalBits = files.sectors * kSectorBits;
    for (ShiftScore& score : result.shifts) {
        const std::int64_t bits = score.shift.Bits();
        std::uint64_t lost = 0;
        if (!(bits > 0 ? CountStreamBits(*files.c2, 0, std::min(bits, totalBits), lost)
                       : CountStreamBits(*files.c2, std::max<std::int64_t>(totalBits + bits, 0),
                                         totalBits, lost))) {
            return false;
        }
        score.bytes.wrong = result.bytes.wrong;
        score.bytes.flagged = allFlags - lost;
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
    return best;
}

}  // namespace report
