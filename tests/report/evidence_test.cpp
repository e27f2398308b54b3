// A pass's evidence against the pass's own files: a damaged pass read from the simulated drive
// is rebuilt from the reference and its evidence byte for byte, and the comparison counts the
// same over the rebuilt streams as over the files. Untrusted evidence is refused by rule.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "report/c2report.h"
#include "report/comparison/cd_format.h"
#include "report/comparison/comparison.h"
#include "report/comparison/wav_input.h"
#include "report/submission/base64.h"
#include "report/submission/evidence.h"
#include "report/submission/evidence_reader.h"
#include "runtime/sha256.h"
#include "tests/report/simulated_extraction.h"
#include "tests/support/program_run.h"
#include "tests/support/temp_dir.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::int64_t kSectors = 1500;

struct PassCase {
    const char* name;
    std::int32_t offset;
    report_test::Lengths lengths;
};

void PrintTo(const PassCase& c, std::ostream* os) {
    *os << c.name;
}

class EvidenceOfAPass : public testing::TestWithParam<PassCase> {
protected:
    void SetUp() override {
        simdrive::DriveSettings settings;
        settings.readOffsetSamples = GetParam().offset;
        settings.honesty = {0.9, 0.002, simdrive::FlagGranularity::byte, true};
        simdrive::DiscSpec spec;
        spec.damage.seed = 4242;
        spec.damage.scratches = {{300, 40, 0.02, 16}, {900, 3, 0.2, 4}, {1200, 1, 0.05, 8}};
        spec.damage.unreadable = {400, 401, 950};
        report_test::SimulatedExtraction extraction(settings, spec, kSectors, 11,
                                                    GetParam().lengths);
        extraction.Write(dir_.Path());
        std::ostringstream out, err;
        ASSERT_EQ(report::BuildVerdict({Path("Reference.wav"), Path("Drive.wav"), Path("Drive.c2")},
                                       verdict_, out, err),
                  report::kExitOk)
            << err.str();
        std::string error;
        const auto reference = report::OpenCdWav(Path("Reference.wav"), error);
        const auto drive = report::OpenCdWav(Path("Drive.wav"), error);
        ASSERT_TRUE(reference && drive) << error;
        reference_.emplace(Path("Reference.wav"), reference->dataStart, reference->dataBytes);
        audio_.emplace(Path("Drive.wav"), drive->dataStart, drive->dataBytes);
        c2_.emplace(Path("Drive.c2"), 0, verdict_.c2.bytes);
        sectors_ = static_cast<std::int64_t>(drive->dataBytes) / report::kSectorBytes;
    }

    std::string Path(const char* name) const { return (dir_ / name).string(); }

    report::BuiltEvidence Build() {
        return report::BuildEvidence(
            {&*reference_, &*audio_, &*c2_, verdict_.alignment.offsetFrames, sectors_});
    }

    testing_support::TempDir dir_;
    report::Verdict verdict_;
    std::optional<report::RegionReader> reference_, audio_, c2_;
    std::int64_t sectors_ = 0;
};

TEST_P(EvidenceOfAPass, RebuildsTheFilesByteForByteAndTheirHashes) {
    const report::BuiltEvidence built = Build();
    ASSERT_EQ(built.status, report::EvidenceStatus::built);
    const report::DecodedEvidence decoded = report::DecodeEvidence(built.text);
    ASSERT_TRUE(decoded.evidence) << decoded.error;
    const report::Evidence& evidence = *decoded.evidence;
    EXPECT_EQ(evidence.sectors, sectors_);
    EXPECT_EQ(static_cast<std::int64_t>(evidence.zeroFilled.size()),
              verdict_.literal.zeroFilledSectors);

    Bytes wav, c2;
    ASSERT_TRUE(report::RebuildPassFiles(
        evidence, *reference_,
        [&](auto bytes) { wav.insert(wav.end(), bytes.begin(), bytes.end()); },
        [&](auto bytes) { c2.insert(c2.end(), bytes.begin(), bytes.end()); }));
    const Bytes wavFile = testing_support::ReadFileBytes(dir_ / "Drive.wav");
    const Bytes c2File = testing_support::ReadFileBytes(dir_ / "Drive.c2");
    ASSERT_EQ(wav.size(), wavFile.size());
    const auto firstDiffering = std::mismatch(wav.begin(), wav.end(), wavFile.begin()).first;
    EXPECT_EQ(firstDiffering - wav.begin(), wav.end() - wav.begin());
    ASSERT_EQ(c2.size(), c2File.size());
    EXPECT_TRUE(c2 == c2File);

    const auto digests = report::RebuiltDigests(evidence, *reference_);
    ASSERT_TRUE(digests);
    EXPECT_EQ(digests->wavSha256, runtime::Sha256Hex(wavFile));
    EXPECT_EQ(digests->c2Sha256, runtime::Sha256Hex(c2File));
    // A damaged pass is told by far fewer bytes than its files hold.
    EXPECT_LT(built.text.size() * 20, wavFile.size() + c2File.size());
}

TEST_P(EvidenceOfAPass, TheComparisonCountsTheSameOverTheEvidenceAsOverTheFiles) {
    const auto decoded = report::DecodeEvidence(Build().text);
    ASSERT_TRUE(decoded.evidence) << decoded.error;
    // The comparison reads the reference and the pass on two threads: each its own reader.
    std::string error;
    const auto layout = report::OpenCdWav(Path("Reference.wav"), error);
    report::RegionReader image(Path("Reference.wav"), layout->dataStart, layout->dataBytes);
    report::EvidenceAudio audio(*decoded.evidence, image);
    report::EvidencePointers pointers(*decoded.evidence);
    EXPECT_EQ(audio.Length(), audio_->Length());
    EXPECT_EQ(pointers.Length(), c2_->Length());
    const report::ComparisonFiles files{&*reference_,
                                        &audio,
                                        &pointers,
                                        verdict_.alignment.offsetFrames,
                                        verdict_.alignment.channelsSwapped,
                                        sectors_,
                                        verdict_.coverage.firstCompared,
                                        verdict_.coverage.endCompared};
    report::PassResult result;
    ASSERT_TRUE(report::ComparePass(files, {}, true, result));
    const report::PassResult& want = verdict_.literal;
    EXPECT_GT(want.bytes.wrong, 0u);
    EXPECT_EQ(result.bytes.wrong, want.bytes.wrong);
    EXPECT_EQ(result.bytes.flagged, want.bytes.flagged);
    EXPECT_EQ(result.bytes.detected, want.bytes.detected);
    EXPECT_EQ(result.samples.detected, want.samples.detected);
    EXPECT_EQ(result.zeroFilledSectors, want.zeroFilledSectors);
    EXPECT_EQ(result.granularity.inSectorWithoutErrors, want.granularity.inSectorWithoutErrors);
    ASSERT_EQ(result.shifts.size(), want.shifts.size());
    for (std::size_t i = 0; i < want.shifts.size(); ++i) {
        ASSERT_EQ(result.shifts[i].bytes.detected, want.shifts[i].bytes.detected) << i;
        ASSERT_EQ(result.shifts[i].bytes.flagged, want.shifts[i].bytes.flagged) << i;
    }
    ASSERT_EQ(result.sectors.size(), want.sectors.size());
    for (std::size_t s = 0; s < want.sectors.size(); ++s) {
        ASSERT_EQ(std::memcmp(&result.sectors[s], &want.sectors[s], sizeof want.sectors[s]), 0)
            << "sector " << s;
    }
}

// A positive offset past a sector; a reference shorter than the disc, whose missing end reads
// as silence, and a run-out of zeros; a negative offset on a disc a sector short.
INSTANTIATE_TEST_SUITE_P(Passes, EvidenceOfAPass,
                         testing::Values(PassCase{"PlusSixSixSeven", 667, {kSectors - 3, 2}},
                                         PassCase{"MinusThirty", -30, {kSectors + 1, 0}}));

// ---- refusals ----

void PutVarint(Bytes& out, std::uint64_t value) {
    for (; value >= 0x80; value >>= 7) {
        out.push_back(static_cast<std::uint8_t>(value | 0x80));
    }
    out.push_back(static_cast<std::uint8_t>(value));
}

// A raw form from its numbers.
Bytes Raw(std::initializer_list<std::int64_t> numbers) {
    Bytes raw;
    for (const std::int64_t n : numbers) {
        PutVarint(raw, static_cast<std::uint64_t>(n));
    }
    return raw;
}

std::string Packed(const Bytes& raw) {
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    Bytes packed(size);
    EXPECT_EQ(compress(packed.data(), &size, raw.data(), static_cast<uLong>(raw.size())), Z_OK);
    packed.resize(size);
    return report::Base64Encode(packed);
}

struct Refusal {
    const char* name;
    Bytes raw;
    const char* error;
};

void PrintTo(const Refusal& r, std::ostream* os) {
    *os << r.name;
}

class EvidenceRefusal : public testing::TestWithParam<Refusal> {};

TEST_P(EvidenceRefusal, NamesTheRuleBroken) {
    const auto decoded = report::DecodeEvidence(Packed(GetParam().raw));
    EXPECT_FALSE(decoded.evidence);
    EXPECT_EQ(decoded.error, GetParam().error);
}

// Raw forms: version, sectors, offset (zigzag), then the counts and entries of the three
// sections: zero-filled sectors, audio runs and pointer runs (gap, length - 1, bytes).
INSTANTIATE_TEST_SUITE_P(
    Rules, EvidenceRefusal,
    testing::Values(Refusal{"Version", Raw({2, 10, 0, 0, 0, 0}), "evidence is of version 2, not 1"},
                    Refusal{"LongerThanACd", Raw({1, 450'001, 0, 0, 0, 0}),
                            "evidence says 450001 sectors, more than a CD holds"},
                    Refusal{"OffsetBeyondADisc", Raw({1, 10, 2 * 264'600'001LL, 0, 0, 0}),
                            "evidence says an offset of 264600001 samples, beyond a CD's length"},
                    Refusal{"ZeroFilledOutside", Raw({1, 10, 0, 2, 3, 6, 0, 0}),
                            "evidence has a zero-filled sector outside the pass"},
                    Refusal{"DifferenceOutside", Raw({1, 1, 0, 0, 1, 2352, 0, 7, 0}),
                            "evidence has a difference outside the pass"},
                    Refusal{"DifferencePastTheEnd", Raw({1, 1, 0, 0, 1, 2350, 2, 7, 7, 7, 0}),
                            "evidence has differences past the pass's end"},
                    Refusal{"DifferenceInAZeroFilledSector",
                            Raw({1, 3, 0, 1, 1, 1, 2352 + 5, 0, 9, 0}),
                            "evidence has a difference inside a zero-filled sector"},
                    Refusal{"PointersOutside", Raw({1, 1, 0, 0, 0, 2, 0, 0, 1, 292, 0, 3}),
                            "evidence has a pointer byte outside the pass"},
                    Refusal{"PointersPastTheEnd", Raw({1, 1, 0, 0, 0, 1, 290, 4, 1, 1, 1, 1, 1}),
                            "evidence has pointer bytes past the pass's end"},
                    Refusal{"CountBeyondItsBytes", Raw({1, 10, 0, 5, 0, 0}),
                            "evidence counts more zero-filled sectors than it holds"},
                    Refusal{"EndsEarly", Raw({1, 10, 0, 0, 1, 0, 3, 7}), "evidence ends early"},
                    Refusal{"BytesAfterTheEnd", Raw({1, 10, 0, 0, 0, 0, 0}),
                            "evidence has more bytes after its end"},
                    Refusal{"NumberPastSixtyFourBits",
                            Bytes{1, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x02},
                            "evidence holds a number longer than 64 bits"}));

TEST(EvidenceRefusal, TextThatIsNotBase64OrNotAWholeZlibStream) {
    EXPECT_EQ(report::DecodeEvidence("abc").error, "evidence is not base64");
    EXPECT_EQ(report::DecodeEvidence("ab=c").error, "evidence is not base64");
    EXPECT_EQ(report::DecodeEvidence("").error,
              "evidence does not decompress (not a whole zlib stream)");
    const std::string whole = Packed(Raw({1, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(report::DecodeEvidence(whole).evidence);
    auto packed = report::Base64Decode(whole).value();
    packed.pop_back();
    EXPECT_EQ(report::DecodeEvidence(report::Base64Encode(packed)).error,
              "evidence does not decompress (not a whole zlib stream)");
    packed = report::Base64Decode(whole).value();
    packed.push_back(0);
    EXPECT_EQ(report::DecodeEvidence(report::Base64Encode(packed)).error,
              "evidence has bytes after its compressed stream");
    const Bytes hello{'h', 'e', 'l', 'l', 'o', '!'};
    EXPECT_EQ(report::DecodeEvidence(report::Base64Encode(hello)).error,
              "evidence does not decompress (not a whole zlib stream)");
}

// 64 MB of zeros packs into some 64 kB: the decoder stops there, not at the end of memory.
TEST(EvidenceRefusal, ABombIsStoppedAtSixtyFourMegabytes) {
    Bytes raw = Raw({1, 0, 0, 0, 0, 0});
    raw.resize(report::kEvidenceMaxRawBytes + 1);
    EXPECT_EQ(report::DecodeEvidence(Packed(raw)).error, "evidence decompresses past 64 MB");
}

TEST(Base64, RoundTripsAndRefusesWhatHasNoSingleMeaning) {
    for (const std::string text : {"", "f", "fo", "foo", "foob", "fooba", "foobar"}) {
        const Bytes bytes(text.begin(), text.end());
        EXPECT_EQ(report::Base64Decode(report::Base64Encode(bytes)), bytes) << text;
    }
    EXPECT_EQ(report::Base64Encode(Bytes{'f', 'o', 'o', 'b'}), "Zm9vYg==");
    for (const char* bad : {"Zm9", "Zm9vYg=a", "Zm=vYg==", "Zm9vYh==", "Zm9v\nYg==", "Zm9-"}) {
        EXPECT_FALSE(report::Base64Decode(bad)) << bad;
    }
}

}  // namespace
