#include "report/c2report.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
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
#include "report/output/html_page.h"
#include "report/output/json_verdict.h"
#include "report/output/output_file.h"
#include "report/output/ranking.h"
#include "report/output/summary.h"
#include "report/output/svg_chart.h"
#include "report/output/text.h"
#include "report/comparison/wav_input.h"

namespace report {
namespace {

const char* const kUsage =
    "Usage : c2report <Reference.wav> <drive>.wav <drive>.c2\n"
    "        c2report --compare <drive>.report.json ...";

// "<folder>/<name>.wav" -> "<folder>/<name>.report<suffix>".
std::string OutputPath(const std::string& wavPath, const std::string& suffix) {
    std::filesystem::path path(wavPath);
    path.replace_extension();
    return path.string() + ".report" + suffix;
}

// The input among `args` that `output` names (the same file, by whatever path), if any.
const std::string* InputAt(const std::vector<std::string>& args, const std::string& output) {
    for (const std::string& input : args) {
        std::error_code failure;
        if (input == output || std::filesystem::equivalent(input, output, failure)) {
            return &input;
        }
    }
    return nullptr;
}

struct Inputs {
    WavLayout reference, drive;
    std::uint64_t c2Bytes = 0;
    std::int64_t sectors = 0;
};

// Checks what can be checked before reading any audio; returns the failure's sentence.
std::string CheckInputs(const std::vector<std::string>& args, Inputs& in, std::ostream& out) {
    std::string error;
    const auto reference = OpenCdWav(args[0], error);
    if (!reference) {
        return error;
    }
    const auto drive = OpenCdWav(args[1], error);
    if (!drive) {
        return error;
    }
    const auto c2Bytes = FileSize(args[2]);
    if (!c2Bytes || !RegionReader(args[2], 0, 0).IsOpen()) {
        return "Cannot open \"" + args[2] + "\".";
    }
    for (const WavLayout* layout : {&*reference, &*drive}) {
        if (!layout->note.empty()) {
            out << "Note: " << layout->note << '\n';
        }
    }
    if (drive->dataBytes % kSectorBytes != 0) {
        return "\"" + args[1] +
               "\" does not hold whole sectors: " + std::to_string(drive->dataBytes) +
               " bytes of audio is not a multiple of 2,352.";
    }
    const auto sectors = static_cast<std::int64_t>(drive->dataBytes / kSectorBytes);
    if (*c2Bytes != static_cast<std::uint64_t>(sectors * kC2Bytes)) {
        return "\"" + args[2] + "\" holds " + std::to_string(*c2Bytes) + " bytes; " +
               std::to_string(sectors) + " sectors of audio need 294 per sector, " +
               std::to_string(sectors * kC2Bytes) + ".";
    }
    in = Inputs{*reference, *drive, *c2Bytes, sectors};
    return {};
}

// Whether the extraction's sectors [first, end) hold nothing but zeros; nullopt on a read error.
std::optional<bool> AllZeros(RegionReader& drive, std::int64_t first, std::int64_t end) {
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
// offset): only an overlap too small to judge the drive by is refused.
std::string TooLittleOverlap(const Coverage& c) {
    if (c.Compared() * 10 >= c.referenceSectors * 9) {
        return {};
    }
    return "Only " + Grouped(c.Compared()) + " of the reference's " + Grouped(c.referenceSectors) +
           " sectors are in the extraction (less than 90 %): too little to judge the drive by.";
}

}  // namespace

int BuildVerdict(const std::vector<std::string>& args, Verdict& verdict, std::ostream& out,
                 std::ostream& err) {
    if (args.size() != 3) {
        err << kUsage << '\n';
        return kExitBadInput;
    }
    Inputs in;
    if (const std::string failure = CheckInputs(args, in, out); !failure.empty()) {
        err << failure << '\n';
        return kExitBadInput;
    }
    RegionReader reference(args[0], in.reference.dataStart, in.reference.dataBytes);
    RegionReader drive(args[1], in.drive.dataStart, in.drive.dataBytes);
    RegionReader c2(args[2], 0, in.c2Bytes);
    if (!reference.IsOpen() || !drive.IsOpen() || !c2.IsOpen()) {
        err << "Cannot open the input files.\n";
        return kExitBadInput;
    }
    verdict = Verdict{};
    verdict.reference = {args[0], FileSize(args[0]).value_or(0)};
    verdict.extraction = {args[1], FileSize(args[1]).value_or(0)};
    verdict.c2 = {args[2], in.c2Bytes};
    verdict.alignment = FindReadOffset(reference, drive);
    if (!verdict.alignment.found) {
        err << verdict.alignment.failure << '\n';
        return kExitBadInput;
    }
    Coverage& coverage = verdict.coverage;
    coverage = MeasureCoverage(static_cast<std::int64_t>(in.reference.dataBytes / kFrameBytes),
                               in.sectors, verdict.alignment.offsetFrames);
    if (const std::string failure = TooLittleOverlap(coverage); !failure.empty()) {
        err << failure << '\n';
        return kExitBadInput;
    }
    const auto before = AllZeros(drive, 0, coverage.firstCompared);
    const auto after = AllZeros(drive, coverage.endCompared, in.sectors);
    // The reference's hash is taken from the comparison's own reads, in the same pass.
    FileDigest digest(args[0]);
    reference.ShowReadsTo(&digest);
    const ComparisonFiles files{&reference,
                                &drive,
                                &c2,
                                verdict.alignment.offsetFrames,
                                verdict.alignment.channelsSwapped,
                                in.sectors,
                                coverage.firstCompared,
                                coverage.endCompared};
    const bool compared = ComparePass(files, {}, true, verdict.literal);
    reference.ShowReadsTo(nullptr);
    verdict.referenceSha256 = digest.Finish();
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

int RunC2Report(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (!args.empty() && args[0] == "--compare") {
        return RunCompare({args.begin() + 1, args.end()}, out, err);
    }
    if (args.size() != 3) {
        err << kUsage << '\n';
        return kExitBadInput;
    }
    const std::string csvPath = OutputPath(args[1], ".csv");
    const std::string svgPath = OutputPath(args[1], ".svg");
    const std::string jsonPath = OutputPath(args[1], ".json");
    const std::string htmlPath = OutputPath(args[1], ".html");
    for (const std::string& output : {csvPath, svgPath, jsonPath, htmlPath}) {
        if (const std::string* input = InputAt(args, output)) {
            err << "\"" << *input << "\" is an input and also where c2report writes \"" << output
                << "\"; it will not overwrite an input. Rename the file.\n";
            return kExitBadInput;
        }
    }
    Verdict verdict;
    if (const int code = BuildVerdict(args, verdict, out, err); code != kExitOk) {
        return code;
    }
    WriteSummary(verdict, out);
    const std::string drive = std::filesystem::path(args[1]).stem().string();
    const std::string title = "C2 report: " + drive + ", read offset " +
                              SignedNumber(verdict.alignment.offsetFrames) + " samples";
    std::ostringstream chart;
    WriteChart(verdict, title, chart);
    const auto json = VerdictJson(verdict, drive);
    const std::vector<std::pair<std::string, std::function<void(std::ostream&)>>> outputs{
        {csvPath, [&](std::ostream& s) { WriteSectorTable(verdict, s); }},
        {svgPath, [&](std::ostream& s) { s << chart.str(); }},
        {jsonPath, [&](std::ostream& s) { s << json.dump(2) << '\n'; }},
        {htmlPath, [&](std::ostream& s) { WriteReportPage(json, chart.str(), s); }}};
    for (const auto& [path, write] : outputs) {
        if (!WriteWholeFile(path, write)) {
            err << "Cannot write \"" << path << "\".\n";
            return kExitIoError;
        }
    }
    out << "Per-sector table:    " << csvPath << '\n'
        << "Chart:               " << svgPath << '\n'
        << "Verdict (JSON):      " << jsonPath << '\n'
        << "Report page:         " << htmlPath << '\n';
    // The summary is the verdict people read: losing it (a full disk, a closed pipe) is a
    // failure, even when the files were written.
    out.flush();
    if (!out) {
        err << "Cannot write the summary to standard output.\n";
        return kExitIoError;
    }
    return kExitOk;
}

}  // namespace report
