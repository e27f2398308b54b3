#include "tests/report/simulated_extraction.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <fstream>

#include "simdrive/audio_source.h"
#include "simdrive/disc.h"
#include "wav/wav_header.h"

namespace report_test {
namespace {

constexpr std::int64_t kAudio = 2352;
constexpr std::int64_t kC2 = 294;
constexpr std::int64_t kChunk = 24;

bool Bit(const std::array<std::uint8_t, kC2>& bits, std::int64_t i) {
    return (bits[i >> 3] >> (7 - (i & 7)) & 1) != 0;
}

void AddSector(const std::array<std::uint8_t, kC2>& wrong,
               const std::array<std::uint8_t, kC2>& flags, report::SectorCounts& c) {
    for (std::int64_t i = 0; i < kAudio; ++i) {
        c.wrongBytes += Bit(wrong, i);
        c.flaggedBytes += Bit(flags, i);
        c.detectedBytes += Bit(wrong, i) && Bit(flags, i);
    }
    for (std::int64_t i = 0; i < kAudio; i += 2) {
        const bool w = Bit(wrong, i) || Bit(wrong, i + 1);
        const bool f = Bit(flags, i) || Bit(flags, i + 1);
        c.wrongSamples += w;
        c.flaggedSamples += f;
        c.detectedSamples += w && f;
    }
}

// The pattern, then silence.
class RunOutSource final : public simdrive::AudioSource {
public:
    RunOutSource(std::int64_t sectors, std::uint64_t seed, std::int64_t runOut)
        : pattern_(static_cast<std::uint64_t>(sectors), seed),
          bytes_(static_cast<std::uint64_t>((sectors + runOut) * kAudio)) {}
    [[nodiscard]] std::uint64_t ByteCount() const override { return bytes_; }
    [[nodiscard]] bool Read(std::uint64_t position, std::span<std::uint8_t> out) override {
        const std::uint64_t patternBytes = pattern_.ByteCount();
        const auto inPattern = static_cast<std::size_t>(
            std::min<std::uint64_t>(out.size(), patternBytes - std::min(position, patternBytes)));
        std::fill(out.begin() + inPattern, out.end(), 0);
        return inPattern == 0 || pattern_.Read(position, out.first(inPattern));
    }

private:
    simdrive::PatternSource pattern_;
    std::uint64_t bytes_;
};

std::unique_ptr<simdrive::Disc> MakeDisc(std::int64_t sectors, std::uint64_t seed,
                                         std::int64_t runOut, const simdrive::DiscSpec& spec) {
    std::string error;
    auto disc =
        simdrive::Disc::Create(std::make_unique<RunOutSource>(sectors, seed, runOut), spec, error);
    EXPECT_TRUE(disc) << error;
    return disc;
}

}  // namespace

SimulatedExtraction::SimulatedExtraction(const simdrive::DriveSettings& settings,
                                         const simdrive::DiscSpec& spec, std::int64_t sectors,
                                         std::uint64_t patternSeed, Lengths lengths)
    : sectors_(sectors + lengths.runOutSectors),
      referenceSectors_(lengths.referenceSectors < 0 ? sectors : lengths.referenceSectors),
      patternSeed_(patternSeed),
      drive_(std::make_unique<simdrive::Drive>(
          settings, MakeDisc(sectors, patternSeed, lengths.runOutSectors, spec))),
      delivered_(static_cast<std::size_t>(sectors_), false) {}

void SimulatedExtraction::Write(const std::filesystem::path& folder, const std::string& name) {
    simdrive::PatternSource source(static_cast<std::uint64_t>(referenceSectors_), patternSeed_);
    std::string error;
    ASSERT_TRUE(simdrive::WriteWavFile((folder / "Reference.wav").string(), source, error))
        << error;
    std::ofstream wav(folder / (name + ".wav"), std::ios::binary);
    std::ofstream c2(folder / (name + ".c2"), std::ios::binary);
    const auto header = wav::MakeWavHeader(static_cast<std::uint32_t>(sectors_ * kAudio));
    wav.write(reinterpret_cast<const char*>(header.data()), header.size());
    std::vector<std::uint8_t> transfer(kChunk * (kAudio + kC2));
    std::array<std::uint8_t, 18> sense{};
    for (std::int64_t first = 0; first < sectors_; first += kChunk) {
        const std::int64_t count = std::min(kChunk, sectors_ - first);
        const auto cdb = simdrive::ReadCdCommand(static_cast<std::uint32_t>(first),
                                                 static_cast<std::uint8_t>(count), 0x12);
        std::fill(transfer.begin(), transfer.end(), 0);
        const auto result = drive_->Execute(cdb, simdrive::Direction::in, transfer, sense);
        for (std::int64_t i = 0; i < count; ++i) {
            const auto block = std::span(transfer).subspan(
                static_cast<std::size_t>(i * (kAudio + kC2)), kAudio + kC2);
            bool delivered = result.status == simdrive::status::good;
            if (!delivered) {
                // A failed chunk is read again sector by sector; a sector that fails alone is
                // stored as zeros.
                const auto one =
                    simdrive::ReadCdCommand(static_cast<std::uint32_t>(first + i), 1, 0x12);
                delivered = drive_->Execute(one, simdrive::Direction::in, block, sense).status ==
                            simdrive::status::good;
                if (!delivered) {
                    std::fill(block.begin(), block.end(), 0);
                }
            }
            delivered_[static_cast<std::size_t>(first + i)] = delivered;
            wav.write(reinterpret_cast<const char*>(block.data()), kAudio);
            c2.write(reinterpret_cast<const char*>(block.data()) + kAudio, kC2);
        }
    }
    ASSERT_TRUE(wav.good() && c2.good());
}

Expected SimulatedExtraction::Truth(std::int32_t shiftSectors) const {
    const bool late = drive_->Settings().honesty.oneSectorLate;
    // The pointers that arrived with sector s, from what the model says it flagged.
    auto deliveredFlags = [&](std::int64_t s) {
        std::array<std::uint8_t, kC2> none{};
        if (s < 0 || s >= sectors_ || !delivered_[static_cast<std::size_t>(s)]) {
            return none;
        }
        if (late) {
            return s == 0 ? none : drive_->Truth(s - 1).flagged;
        }
        return drive_->Truth(s).flagged;
    };
    Expected expected;
    expected.sectors.resize(static_cast<std::size_t>(sectors_));
    std::array<std::uint8_t, kAudio> clean{};
    for (std::int64_t s = 0; s < sectors_; ++s) {
        std::array<std::uint8_t, kC2> wrong = drive_->Truth(s).corrupted;
        const bool delivered = delivered_[static_cast<std::size_t>(s)];
        if (!delivered) {
            // Not delivered: zeros stand where the clean audio should be.
            wrong.fill(0);
            EXPECT_TRUE(drive_->ReadCleanAudio(s, clean));
            for (std::int64_t i = 0; i < kAudio; ++i) {
                if (clean[i] != 0) {
                    wrong[i >> 3] |= static_cast<std::uint8_t>(0x80 >> (i & 7));
                }
            }
        }
        report::SectorCounts& c = expected.sectors[static_cast<std::size_t>(s)];
        AddSector(wrong, deliveredFlags(s + shiftSectors), c);
        c.zeroFilled = !delivered && c.wrongBytes > 0;
        expected.sectorsWithErrors += c.wrongBytes > 0 ? 1 : 0;
        if (c.zeroFilled) {
            ++expected.zeroFilledSectors;  // a failed read: no part of the C2 verdict
            continue;
        }
        expected.bytes.wrong += c.wrongBytes;
        expected.bytes.flagged += c.flaggedBytes;
        expected.bytes.detected += c.detectedBytes;
        expected.samples.wrong += c.wrongSamples;
        expected.samples.flagged += c.flaggedSamples;
        expected.samples.detected += c.detectedSamples;
    }
    return expected;
}

}  // namespace report_test
