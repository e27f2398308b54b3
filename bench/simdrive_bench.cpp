// Streams a whole 74-minute disc through the simulated drive with READ CD (audio, C2 and block
// error byte) in 24-sector commands and prints the rate against a real 52x drive.
//   simdrive_bench [Reference.wav]
// Without a path, a 74-minute pattern image is written to a temporary file first.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "simdrive/audio_source.h"
#include "simdrive/bytes.h"
#include "simdrive/drive.h"

namespace {

constexpr uint32_t kSectorsPerRead = 24;
constexpr uint32_t kBlockBytes = 2648;
constexpr double kSectorsPerSecondAt52x = 52.0 * 75.0;
constexpr uint64_t kReferenceSectors = 333000;  // 74 minutes

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

std::string TemporaryImagePath() {
    const char* directory = std::getenv("TMPDIR");
    return std::string(directory != nullptr ? directory : "/tmp") + "/simdrive_bench_" +
           std::to_string(::getpid()) + ".wav";
}

// Reads the disc from sector 0 to the lead-out; returns sectors per second, or 0 on a failure.
double StreamDisc(simdrive::Drive& drive, uint64_t& checksum) {
    std::vector<uint8_t> data(kSectorsPerRead * kBlockBytes);
    std::vector<uint8_t> sense(18);
    std::vector<uint8_t> cdb(12, 0);
    const auto leadOut = static_cast<uint32_t>(drive.LeadOut());
    const auto start = Clock::now();
    for (uint32_t lba = 0; lba < leadOut; lba += kSectorsPerRead) {
        const uint32_t count = std::min(kSectorsPerRead, leadOut - lba);
        cdb = {0xBE, 0x04, 0, 0, 0, 0, 0, 0, 0, 0x14, 0, 0};
        simdrive::PutBe32(cdb, 2, lba);
        simdrive::PutBe24(cdb, 6, count);
        const auto result = drive.Execute(cdb, simdrive::Direction::in,
                                          std::span(data).first(count * kBlockBytes), sense);
        if (result.status != simdrive::status::good) {
            std::fprintf(stderr, "read at sector %u failed: sense %02X/%02X/%02X\n", lba, sense[2],
                         sense[12], sense[13]);
            return 0.0;
        }
        checksum += data[kBlockBytes - 2] + data[0];  // keeps the work observable
    }
    return leadOut / Seconds(start);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 2) {
        std::fprintf(stderr, "usage: simdrive_bench [Reference.wav]\n");
        return 2;
    }
    std::string path = argc == 2 ? argv[1] : std::string();
    const bool generated = path.empty();
    std::string error;
    if (generated) {
        path = TemporaryImagePath();
        std::printf("writing a 74-minute pattern image to %s ...\n", path.c_str());
        simdrive::PatternSource pattern(kReferenceSectors, 1);
        const auto start = Clock::now();
        if (!simdrive::WriteWavFile(path, pattern, error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            simdrive::RemoveFile(path);
            return 1;
        }
        std::printf("written in %.2f s\n", Seconds(start));
    }
    auto audio = simdrive::WavSource::Open(path, error);
    simdrive::DiscSpec spec;
    spec.damage.seed = 5;
    spec.damage.random = simdrive::RandomScratches{40, 25, 0.01, 8};  // 1,000 damaged sectors
    auto disc = audio ? simdrive::Disc::Create(std::move(audio), spec, error) : nullptr;
    if (!disc) {
        std::fprintf(stderr, "%s\n", error.c_str());
        if (generated) {
            simdrive::RemoveFile(path);
        }
        return 1;
    }
    simdrive::DriveSettings settings;
    settings.readOffsetSamples = 6;
    simdrive::Drive drive(settings, std::move(disc));
    std::printf("disc: %lld sectors from %s\n", static_cast<long long>(drive.LeadOut()),
                path.c_str());
    uint64_t checksum = 0;
    int status = 0;
    for (const char* pass : {"first pass (file may be cold)", "second pass (file cached)"}) {
        const double rate = StreamDisc(drive, checksum);
        if (rate == 0.0) {
            status = 1;
            break;
        }
        std::printf(
            "%s: %.0f sectors/s, %.1f MB/s of audio, %.0f x a 52x drive (3,900 sectors/s)\n", pass,
            rate, rate * simdrive::kAudioBytes / 1e6, rate / kSectorsPerSecondAt52x);
    }
    std::printf("checksum %llu\n", static_cast<unsigned long long>(checksum));
    if (generated) {
        simdrive::RemoveFile(path);
    }
    return status;
}
