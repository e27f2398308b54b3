// c2report over a whole 74-minute disc, and --compare of ten verdicts:
// `c2report_bench [Reference.wav]`.
// Reads the reference (or writes a 74-minute pattern image to $TMPDIR first) through the
// simulated drive of all-c2-forms.drive into an extraction, then times the full comparison
// twice and prints the seconds and the peak memory. Files go to $TMPDIR (or /tmp) and are
// removed afterwards.
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
#include "report/ranking.h"
#include "simdrive/audio_source.h"
#include "simdrive/description.h"
#include "wav/wav_header.h"

namespace {

constexpr std::int64_t kImageSectors = 333'000;
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

}  // namespace

int main(int argc, char** argv) {
    const char* tmp = std::getenv("TMPDIR");
    const std::filesystem::path folder =
        std::filesystem::path(tmp ? tmp : "/tmp") / "c2report_bench";
    std::filesystem::create_directories(folder);
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
