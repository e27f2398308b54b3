// c2report over a whole 74-minute disc, and --compare of ten verdicts:
// `c2report_bench [Reference.wav]`; with --study first, c2report --study of six such passes
// against one verdict, with the load average: `c2report_bench --study [Reference.wav]`; with
// --verify, c2report --verify of one such pass's submission against one verdict, and the
// evidence's size against the pass's files: `c2report_bench --verify [Reference.wav]`.
// Reads the reference (or writes a 74-minute pattern image to $TMPDIR first) through the
// simulated drive of all-c2-forms.drive into an extraction, then times the full comparison
// twice and prints the seconds and the peak memory. Files go to $TMPDIR (or /tmp) and are
// removed afterwards.
// With --files first, files from strangers at scale, with no disc: `c2report_bench --files`
// ranks 100,000 small verdicts (seconds, peak memory), then reads a study of 100,000 passes
// (refused: larger than 16 MB), one of 60,000 (refused: only 4 forms x 372 speeds
// are distinct) and judges one of every distinct pass, their
// files missing (seconds each).
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "report/c2report.h"
#include "report/output/ranking.h"
#include "report/study.h"
#include "report/verify.h"
#include "simdrive/audio_source.h"
#include "simdrive/description.h"
#include "wav/wav_header.h"

namespace {

constexpr std::int64_t kImageSectors = 333'000;
constexpr std::array<const char*, 4> kForms{"readcd14", "d8", "density", "readcd12"};
constexpr std::int64_t kAudio = 2352, kC2 = 294, kChunk = 24;

std::string PeakMemory() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return line.substr(6);
        }
    }
    return " unknown";
}

bool Extract(simdrive::Drive& drive, const std::filesystem::path& wavPath,
             const std::filesystem::path& c2Path) {
    const std::int64_t sectors = drive.LeadOut();
    std::ofstream wav(wavPath, std::ios::binary), c2(c2Path, std::ios::binary);
    const auto header = wav::MakeWavHeader(static_cast<std::uint32_t>(sectors * kAudio));
    wav.write(reinterpret_cast<const char*>(header.data()), header.size());
    std::vector<std::uint8_t> transfer(kChunk * (kAudio + kC2));
    std::array<std::uint8_t, 18> sense{};
    for (std::int64_t first = 0; first < sectors; first += kChunk) {
        const std::int64_t count = std::min(kChunk, sectors - first);
        const auto cdb = simdrive::ReadCdCommand(static_cast<std::uint32_t>(first),
                                                 static_cast<std::uint8_t>(count), 0x12);
        std::fill(transfer.begin(), transfer.end(), 0);
        (void)drive.Execute(cdb, simdrive::Direction::in, transfer, sense);
        for (std::int64_t i = 0; i < count; ++i) {
            const char* block = reinterpret_cast<const char*>(transfer.data()) + i * (kAudio + kC2);
            wav.write(block, kAudio);
            c2.write(block + kAudio, kC2);
        }
    }
    return wav.good() && c2.good();
}

// --compare of ten verdicts: the one just written, under ten drive names.
void CompareTenVerdicts(const std::filesystem::path& folder, const std::string& verdictPath) {
    std::ifstream file(verdictPath);
    std::stringstream text;
    text << file.rdbuf();
    std::vector<std::string> verdicts;
    for (int i = 0; i < 10; ++i) {
        std::string json = text.str();
        const std::string name = "\"drive\": \"Drive\"";
        json.replace(json.find(name), name.size(), "\"drive\": \"Drive" + std::to_string(i) + "\"");
        verdicts.push_back((folder / ("Drive" + std::to_string(i) + ".report.json")).string());
        std::ofstream(verdicts.back()) << json;
    }
    const auto here = std::filesystem::current_path();
    std::filesystem::current_path(folder);
    std::ostringstream out, err;
    const auto start = std::chrono::steady_clock::now();
    const int code = report::RunCompare(verdicts, out, err);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::filesystem::current_path(here);
    std::printf("--compare of 10 verdicts: exit %d, %.3f s wall\n", code, seconds);
}

std::string LoadAverage() {
    std::ifstream file("/proc/loadavg");
    std::string one, five, fifteen;
    file >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

template <typename Run>
double WallSeconds(Run run) {
    const auto start = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Six passes (copies of the one extraction, so that none is read from another's cache), a
// study file naming them, then one plain verdict and the study, each timed.
int StudySixPasses(const std::filesystem::path& folder, const std::string& reference) {
    std::string passes;
    for (int i = 0; i < 6; ++i) {
        const std::string name =
            "Drive." + std::string(kForms[i % 3]) + "." + (i < 3 ? "8x" : "max");
        std::filesystem::copy_file(folder / "Drive.wav", folder / (name + ".wav"));
        std::filesystem::copy_file(folder / "Drive.c2", folder / (name + ".c2"));
        passes += std::string(i == 0 ? "" : ",") + R"({"form": ")" + kForms[i % 3] +
                  R"(", "speedRequested": ")" + (i < 3 ? "8x" : "max") +
                  R"(", "speedSet": true, "speedReportedKBps": null, "wav": ")" + name +
                  R"(.wav", "c2": ")" + name + R"(.c2", "sectors": 333000, "failedSectors": 0, )" +
                  R"("seconds": 0, "completed": true, "error": null})";
    }
    std::ofstream(folder / "Drive.study.json")
        << R"({"format": "Quellor study", "formatVersion": 1, "drive": {"vendor": "SIM", )"
        << R"("product": "BENCH", "revision": "1"}, "formsFound": ["readcd14", "d8", "density"], )"
        << R"("passes": [)" << passes << "]}";
    std::ostringstream out, err;
    const std::string wav = (folder / "Drive.wav").string(), c2 = (folder / "Drive.c2").string();
    std::cout << "load average before: " << LoadAverage() << '\n';
    const double one = WallSeconds([&] {
        (void)report::RunC2Report({reference, wav, c2}, out, err);
    });
    int code = 0;
    const double six = WallSeconds([&] {
        code = report::RunStudy(reference, (folder / "Drive.study.json").string(), out, err);
    });
    std::cout << err.str();
    std::printf(
        "one verdict: %.2f s wall; --study of 6 passes: exit %d, %.2f s wall (%.2f x one)\n", one,
        code, six, six / one);
    std::cout << "load average after: " << LoadAverage() << '\n';
    return code;
}

// A study of the one pass, judged to make its submission, then --verify of that submission
// against one verdict of the same files, each timed.
int VerifyOnePass(const std::filesystem::path& folder, const std::string& reference) {
    std::filesystem::rename(folder / "Drive.wav", folder / "Drive.readcd14.wav");
    std::filesystem::rename(folder / "Drive.c2", folder / "Drive.readcd14.c2");
    std::ofstream(folder / "Drive.study.json")
        << R"({"format": "Quellor study", "formatVersion": 1, "drive": {"vendor": "SIM", )"
        << R"("product": "BENCH", "revision": "1"}, "formsFound": ["readcd14"], "passes": [)"
        << R"({"form": "readcd14", "speedRequested": null, "speedSet": false, )"
        << R"("speedReportedKBps": null, "wav": "Drive.readcd14.wav", "c2": "Drive.readcd14.c2", )"
        << R"("sectors": 333000, "failedSectors": 0, "seconds": 0, "completed": true, )"
        << R"("error": null}]})";
    std::ostringstream out, err;
    if (report::RunStudy(reference, (folder / "Drive.study.json").string(), out, err) != 0) {
        std::cerr << out.str() << err.str();
        return 1;
    }
    const auto bytes = [&](const char* name) { return std::filesystem::file_size(folder / name); };
    std::printf(
        "evidence: submission of %ju bytes for files of %ju bytes (%.3f %%)\n",
        static_cast<std::uintmax_t>(bytes("Drive.submission.json")),
        static_cast<std::uintmax_t>(bytes("Drive.readcd14.wav") + bytes("Drive.readcd14.c2")),
        100.0 * static_cast<double>(bytes("Drive.submission.json")) /
            static_cast<double>(bytes("Drive.readcd14.wav") + bytes("Drive.readcd14.c2")));
    const std::string wav = (folder / "Drive.readcd14.wav").string();
    const std::string c2 = (folder / "Drive.readcd14.c2").string();
    std::cout << "load average before: " << LoadAverage() << '\n';
    const double one = WallSeconds([&] {
        (void)report::RunC2Report({reference, wav, c2}, out, err);
    });
    int code = 0;
    std::ostringstream verified;
    const double verify = WallSeconds([&] {
        code = report::RunVerify(reference, (folder / "Drive.submission.json").string(), verified,
                                 err);
    });
    std::cout << verified.str() << err.str();
    std::printf(
        "one verdict: %.2f s wall; --verify of its pass: exit %d, %.2f s wall (%.2f x one)\n", one,
        code, verify, verify / one);
    std::cout << "load average after: " << LoadAverage() << '\n';
    return code;
}

std::string SmallVerdict(int i) {
    return R"({"format": "c2report verdict", "formatVersion": 1, "drive": "Drive )" +
           std::to_string(i) +
           R"(", "bytesCompared": 2352000, "missedPerMillion": 1.5, "c2": {"literal": {"bytes": )"
           R"({"falseFlagRate": 0.01}}, "best": {"bytes": {"falseFlagRate": null, )"
           R"("detectionRate": 0.99, "missed": )" +
           std::to_string(i % 1000) +
           R"(}, "missedPerMillion": 0.5, "shift": {"pointerBits": 0, "text": "as delivered"}}}, )"
           R"("alignment": {"offsetSamples": 6}, "zeroFilled": {"sectors": 0}, "inputs": )"
           R"({"reference": {"sha256": ")" +
           std::string(64, 'a') + R"("}}})";
}

// A study of `count` passes whose files are all missing; passes repeat a form and speed once
// there are more than the 1,488 distinct ones.
void WriteManyPassStudy(const std::filesystem::path& path, int count) {
    std::ofstream study(path);
    study << R"({"format": "Quellor study", "formatVersion": 1, "drive": {"vendor": "SIM", )"
          << R"("product": "BENCH", "revision": "1"}, "formsFound": [], "passes": [)";
    for (int i = 0; i < count; ++i) {
        const int speed = (i / 4) % 372;
        std::string speedText = speed == 0 ? "max" : std::to_string(speed), name("P");
        speedText += speed == 0 ? "" : "x";
        name += std::to_string(i);
        study << (i == 0 ? "" : ",") << R"({"form": ")" << kForms[i % 4]
              << R"(", "speedRequested": ")" << speedText
              << R"(", "speedSet": true, "speedReportedKBps": null, "wav": ")" << name
              << R"(.wav", "c2": ")" << name << R"(.c2", "sectors": 1000, "failedSectors": 0, )"
              << R"("seconds": 0, "completed": true, "error": null})";
    }
    study << "]}";
}

int FilesAtScale(const std::filesystem::path& folder) {
    std::filesystem::current_path(folder);  // --compare writes its files here
    std::vector<std::string> verdicts;
    for (int i = 0; i < 100'000; ++i) {
        std::string name("v");
        name += std::to_string(i);
        verdicts.push_back(name + ".report.json");
        std::ofstream(verdicts.back()) << SmallVerdict(i);
    }
    std::ofstream out("console.txt");
    std::ostringstream err;
    std::cout << "load average before: " << LoadAverage() << '\n';
    int code = 0;
    const double compare = WallSeconds([&] { code = report::RunCompare(verdicts, out, err); });
    std::printf("--compare of 100,000 verdicts: exit %d, %.2f s wall, peak memory%s\n", code,
                compare, PeakMemory().c_str());
    std::string error;
    simdrive::PatternSource source(100, 7);
    if (!simdrive::WriteWavFile("Reference.wav", source, error)) {
        std::cerr << error << '\n';
        return 1;
    }
    for (const int passes : {100'000, 60'000, 4 * 372}) {
        WriteManyPassStudy("Many.study.json", passes);
        std::ostringstream studyErr;
        const double seconds = WallSeconds(
            [&] { code = report::RunStudy("Reference.wav", "Many.study.json", out, studyErr); });
        std::printf("--study of %d passes, files missing: exit %d, %.2f s wall\n", passes, code,
                    seconds);
        std::cout << "  " << studyErr.str().substr(0, studyErr.str().find('\n')) << '\n';
    }
    std::cout << "load average after: " << LoadAverage() << '\n';
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const char* tmp = std::getenv("TMPDIR");
    const std::filesystem::path folder =
        std::filesystem::path(tmp ? tmp : "/tmp") / "c2report_bench";
    std::filesystem::create_directories(folder);
    if (argc > 1 && std::string(argv[1]) == "--files") {
        const int code = FilesAtScale(folder);
        std::filesystem::current_path(folder.parent_path());
        std::filesystem::remove_all(folder);
        return code;
    }
    const std::string mode = argc > 1 ? argv[1] : "";
    const bool study = mode == "--study", verify = mode == "--verify";
    if (study || verify) {
        --argc;
        ++argv;
    }
    std::string reference = argc > 1 ? argv[1] : (folder / "Reference.wav").string();
    std::string error;
    if (argc <= 1) {
        std::cout << "Writing a 74-minute pattern image to " << reference << " ..." << std::endl;
        simdrive::PatternSource source(kImageSectors, 1005);
        if (!simdrive::WriteWavFile(reference, source, error)) {
            std::cerr << error << '\n';
            return 1;
        }
    }
    reference = std::filesystem::absolute(reference).string();
    const std::string description =
        "[drive]\nread_offset = +6\ndisc = wav " + reference +
        "\ndamage_seed = 20240601\nscratch = 1500 40 0.02 16\nbad_sector = 90000 0.1\n"
        "unreadable = 150000\nrandom_scratches = 12 30 0.01 24\nc2_flag_wrong = 0.9\n"
        "c2_flag_good = 0.001\n";
    auto set = simdrive::DriveSet::Parse(description, "/", {}, "bench", error);
    if (!set) {
        std::cerr << error << '\n';
        return 1;
    }
    std::cout << "Extracting through the simulated drive ..." << std::endl;
    const auto wavPath = folder / "Drive.wav", c2Path = folder / "Drive.c2";
    if (!Extract(set->At(0), wavPath, c2Path)) {
        std::cerr << "cannot write the extraction\n";
        return 1;
    }
    if (study || verify) {
        const int code =
            study ? StudySixPasses(folder, reference) : VerifyOnePass(folder, reference);
        std::filesystem::remove_all(folder);
        return code;
    }
    for (int run = 1; run <= 2; ++run) {
        std::ostringstream out, err;
        const auto start = std::chrono::steady_clock::now();
        const std::clock_t cpuStart = std::clock();
        const int code =
            report::RunC2Report({reference, wavPath.string(), c2Path.string()}, out, err);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double cpu = double(std::clock() - cpuStart) / CLOCKS_PER_SEC;
        if (run == 1) {
            std::cout << out.str() << err.str();
        }
        std::printf("run %d: exit %d, %.2f s wall, %.2f s CPU (all threads) for %lld sectors\n",
                    run, code, seconds, cpu, static_cast<long long>(kImageSectors));
    }
    std::cout << "peak memory:" << PeakMemory() << '\n';
    CompareTenVerdicts(folder, (folder / "Drive.report.json").string());
    std::filesystem::remove_all(folder);
    return 0;
}
