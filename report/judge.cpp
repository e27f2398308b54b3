#include "report/judge.h"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <sstream>
#include <system_error>

#include "report/comparison/alignment.h"
#include "report/comparison/block_reader.h"
#include "report/comparison/cd_format.h"
#include "report/comparison/comparison.h"
#include "report/comparison/file_digest.h"
#include "report/input/input_file.h"
#include "report/output/html_page.h"
#include "report/output/json_verdict.h"
#include "report/output/output_file.h"
#include "report/output/svg_chart.h"
#include "report/output/text.h"

namespace report {
namespace {

// "<folder>/<name>.wav" -> "<folder>/<name>.report<suffix>".
std::string OutputPath(const std::string& wavPath, const std::string& suffix) {
    std::filesystem::path path(wavPath);
    path.replace_extension();
    return path.string() + ".report" + suffix;
}

struct DriveFiles {
    WavLayout drive;
    std::uint64_t c2Bytes = 0;
    std::int64_t sectors = 0;
};

// Checks what can be checked before reading any audio; returns the failure's sentence.
std::string CheckDriveFiles(const std::string& wav, const std::string& c2, DriveFiles& in,
                            std::ostream& out) {
    std::string error;
    const auto drive = OpenCdWav(wav, error);
    if (!drive) {
        return error;
    }
    if (!OpenInputFile(c2, error)) {
        return error;
    }
    const auto c2Bytes = FileSize(c2);
    if (!c2Bytes) {
        return "Cannot open " + Quoted(c2) + ".";
    }
    if (!drive->note.empty()) {
        out << "Note: " << drive->note << '\n';
    }
    if (drive->dataBytes % kSectorBytes != 0) {
        return "\"" + wav + "\" does not hold whole sectors: " + std::to_string(drive->dataBytes) +
               " bytes of audio is not a multiple of 2,352.";
    }
    const auto sectors = static_cast<std::int64_t>(drive->dataBytes / kSectorBytes);
    if (sectors == 0) {
        return Quoted(wav) + " holds no audio: only a header.";
    }
    const auto needed = static_cast<std::uint64_t>(sectors * kC2Bytes);
    if (*c2Bytes > needed && *c2Bytes % kC2Bytes == 0) {
        // Whole sectors of pointers beyond the audio: the extraction is the file that is short.
        return Quoted(wav) + " is short: it holds " + Grouped(static_cast<std::uint64_t>(sectors)) +
               " sectors of audio, and " + Quoted(c2) + " pointers for " +
               Grouped(*c2Bytes / kC2Bytes) + ".";
    }
    if (*c2Bytes != needed) {
        return "\"" + c2 + "\" holds " + std::to_string(*c2Bytes) + " bytes; " +
               std::to_string(sectors) + " sectors of audio need 294 per sector, " +
               std::to_string(sectors * kC2Bytes) + ".";
    }
    in = DriveFiles{*drive, *c2Bytes, sectors};
    return {};
}

// Whether the extraction's sectors [first, end) hold nothing but zeros; nullopt on a read error.
std::optional<bool> AllZeros(BlockSource& drive, std::int64_t first, std::int64_t end) {
    std::vector<std::uint8_t> block(static_cast<std::size_t>(kSectorBytes) * 64);
    for (std::int64_t s = first; s < end; s += 64) {
        const auto bytes = std::span(block).first(
            static_cast<std::size_t>(std::min<std::int64_t>(64, end - s) * kSectorBytes));
        if (!drive.Read(s * kSectorBytes, bytes)) {
            return std::nullopt;
        }
        if (std::any_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b != 0; })) {
            return false;
        }
    }
    return true;
}

// A real disc read back rarely has the image's length (run-out blocks, padding, the read
// offset): only an overlap too small to judge the drive by is refused. A pass that was cut
// short is judged over what it holds.
std::string TooLittleOverlap(const Coverage& c, bool partial) {
    if (c.Compared() * 10 >= c.referenceSectors * 9 || (partial && c.Compared() > 0)) {
        return {};
    }
    return "Only " + Grouped(c.Compared()) + " of the reference's " + Grouped(c.referenceSectors) +
           " sectors are in the extraction (less than 90 %): too little to judge the drive by.";
}

}  // namespace

bool OpenReference(const std::string& path, ReferenceImage& reference, std::ostream& out,
                   std::ostream& err) {
    std::string error;
    const auto layout = OpenCdWav(path, error);
    if (!layout) {
        err << error << '\n';
        return false;
    }
    if (!layout->note.empty()) {
        out << "Note: " << layout->note << '\n';
    }
    reference = ReferenceImage{path, *layout, {}};
    return true;
}

int JudgeStreams(ReferenceImage& image, const PassStreams& pass, bool partial, Verdict& verdict,
                 std::ostream& err) {
    RegionReader reference(image.path, image.layout.dataStart, image.layout.dataBytes);
    if (!reference.IsOpen()) {
        err << "Cannot open the input files.\n";
        return kExitBadInput;
    }
    verdict.alignment = FindReadOffset(reference, pass.audio);
    if (!verdict.alignment.found) {
        err << verdict.alignment.failure << '\n';
        return kExitBadInput;
    }
    Coverage& coverage = verdict.coverage;
    coverage = MeasureCoverage(static_cast<std::int64_t>(image.layout.dataBytes / kFrameBytes),
                               pass.sectors, verdict.alignment.offsetFrames);
    if (const std::string failure = TooLittleOverlap(coverage, partial); !failure.empty()) {
        err << failure << '\n';
        return kExitBadInput;
    }
    const auto before = AllZeros(pass.audio, 0, coverage.firstCompared);
    const auto after = AllZeros(pass.audio, coverage.endCompared, pass.sectors);
    // The reference's hash is taken from the first comparison's own reads, in the same pass.
    std::optional<FileDigest> digest;
    if (image.sha256.empty()) {
        digest.emplace(image.path);
        reference.ShowReadsTo(&*digest);
    }
    const ComparisonFiles files{&reference,
                                &pass.audio,
                                &pass.c2,
                                verdict.alignment.offsetFrames,
                                verdict.alignment.channelsSwapped,
                                pass.sectors,
                                coverage.firstCompared,
                                coverage.endCompared};
    const bool compared = ComparePass(files, {}, true, verdict.literal);
    reference.ShowReadsTo(nullptr);
    if (digest) {
        image.sha256 = digest->Finish();
    }
    verdict.referenceSha256 = image.sha256;
    if (!before || !after || !compared || verdict.referenceSha256.empty()) {
        err << "Cannot read the input files.\n";
        return kExitIoError;
    }
    coverage.extraBeforeAllZero = *before;
    coverage.extraAfterAllZero = *after;
    verdict.genuineReference = verdict.referenceSha256 == kGenuineReferenceSha256;
    verdict.best = BestShift(verdict.literal.shifts);
    if (!(verdict.best.shift == C2Shift{})) {
        verdict.moved.emplace();
        if (!ComparePass(files, verdict.best.shift, false, *verdict.moved)) {
            err << "Cannot read the input files.\n";
            return kExitIoError;
        }
    }
    return kExitOk;
}

int JudgePass(ReferenceImage& image, const std::string& wav, const std::string& c2Path,
              bool partial, Verdict& verdict, std::ostream& out, std::ostream& err,
              PassFileDigests* digests) {
    DriveFiles in;
    if (const std::string failure = CheckDriveFiles(wav, c2Path, in, out); !failure.empty()) {
        err << failure << '\n';
        return kExitBadInput;
    }
    RegionReader drive(wav, in.drive.dataStart, in.drive.dataBytes);
    RegionReader c2(c2Path, 0, in.c2Bytes);
    if (!drive.IsOpen() || !c2.IsOpen()) {
        err << "Cannot open the input files.\n";
        return kExitBadInput;
    }
    // The pass's own files are hashed from the judge's reads, when their hashes are wanted.
    std::optional<FileDigest> wavDigest, c2Digest;
    if (digests != nullptr) {
        drive.ShowReadsTo(&wavDigest.emplace(wav));
        c2.ShowReadsTo(&c2Digest.emplace(c2Path));
    }
    verdict = Verdict{};
    verdict.reference = {image.path, FileSize(image.path).value_or(0)};
    verdict.extraction = {wav, FileSize(wav).value_or(0)};
    verdict.c2 = {c2Path, in.c2Bytes};
    const int code = JudgeStreams(image, {drive, c2, in.sectors}, partial, verdict, err);
    if (code != kExitOk || digests == nullptr) {
        return code;
    }
    drive.ShowReadsTo(nullptr);
    c2.ShowReadsTo(nullptr);
    *digests = {wavDigest->Finish(), c2Digest->Finish()};
    if (digests->wavSha256.empty() || digests->c2Sha256.empty()) {
        err << "Cannot read the input files.\n";
        return kExitIoError;
    }
    return kExitOk;
}

std::vector<std::string> VerdictOutputs(const std::string& wav) {
    return {OutputPath(wav, ".csv"), OutputPath(wav, ".svg"), OutputPath(wav, ".json"),
            OutputPath(wav, ".html")};
}

int RefuseClashes(const OutputPlan& plan, std::ostream& err) {
    const std::string clash = plan.Clash();
    if (clash.empty()) {
        return kExitOk;
    }
    err << clash << '\n';
    return kExitBadInput;
}

int WriteVerdictFiles(const Verdict& verdict, const std::string& wav, std::ostream& out,
                      std::ostream& err) {
    const std::vector<std::string> paths = VerdictOutputs(wav);
    const std::string drive = std::filesystem::path(wav).stem().string();
    const std::string title = "C2 report: " + drive + ", read offset " +
                              SignedNumber(verdict.alignment.offsetFrames) + " samples";
    std::ostringstream chart;
    WriteChart(verdict, title, chart);
    const auto json = VerdictJson(verdict, drive);
    const std::function<void(std::ostream&)> writers[] = {
        [&](std::ostream& s) { WriteSectorTable(verdict, s); },
        [&](std::ostream& s) { s << chart.str(); },
        [&](std::ostream& s) { s << json.dump(2) << '\n'; },
        [&](std::ostream& s) { WriteReportPage(json, chart.str(), s); }};
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (!WriteWholeFile(paths[i], writers[i])) {
            err << "Cannot write \"" << paths[i] << "\".\n";
            return kExitIoError;
        }
    }
    out << "Per-sector table:    " << paths[0] << '\n'
        << "Chart:               " << paths[1] << '\n'
        << "Verdict (JSON):      " << paths[2] << '\n'
        << "Report page:         " << paths[3] << '\n';
    return kExitOk;
}

}  // namespace report
