// rig_truth <description> <drive index> <folder> <base name> [<form> <speed>]: what Quellor must
// write for one drive of a description, worked out from the drive model alone: <base name>.wav
// and .c2 with every sector as the drive delivers it (read in Quellor's 24-sector chunks; a
// failed chunk sector by sector, a sector that fails alone as zeros), and "stdout", the console
// text of the run. With a form (readcd14, d8, density, readcd12) and a speed (Nx, max): the
// files of a study's pass, whose pointers are what that form delivers at that speed (a study
// drive's disc has no unreadable sector). The kernel rig compares Quellor's files with these
// byte for byte.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "simdrive/description.h"
#include "simdrive/scsi.h"
#include "tests/support/quellor_console.h"
#include "wav/wav_header.h"

namespace {

constexpr std::uint32_t kChunkSectors = 24;
constexpr std::uint32_t kBlockBytes = simdrive::kAudioBytes + simdrive::kC2Bytes;

struct Delivery {
    std::vector<std::uint8_t> audio;
    std::vector<std::uint8_t> c2;
    std::int64_t failedSectors = 0;
    std::int64_t firstFailed = -1;
    std::string progress;
};

// READ CD with audio and C2 pointers of `count` sectors into the start of `wire`, cleared first.
simdrive::CommandResult ReadBlocks(simdrive::Drive& drive, std::uint32_t first, std::uint32_t count,
                                   std::span<std::uint8_t> wire) {
    std::array<std::uint8_t, 18> sense{};
    const auto data = wire.first(count * kBlockBytes);
    std::fill(data.begin(), data.end(), 0);
    const auto command = simdrive::ReadCdCommand(first, static_cast<std::uint8_t>(count), 0x12);
    return drive.Execute(command, simdrive::Direction::in, data, sense);
}

// The drive's own delivery through READ CD with audio and C2 pointers, which carries the same
// bytes as every other C2 form of the model.
Delivery Deliver(simdrive::Drive& drive, std::uint32_t leadOut) {
    Delivery delivery;
    delivery.audio.resize(std::size_t{leadOut} * simdrive::kAudioBytes);
    delivery.c2.resize(std::size_t{leadOut} * simdrive::kC2Bytes);
    std::vector<std::uint8_t> wire(kChunkSectors * kBlockBytes);
    long long lastTenths = -1;
    for (std::uint32_t first = 0; first < leadOut; first += kChunkSectors) {
        const std::uint32_t count = std::min(kChunkSectors, leadOut - first);
        const auto result = ReadBlocks(drive, first, count, wire);
        for (std::uint32_t i = 0; i < count; ++i) {
            std::span<std::uint8_t> block = std::span(wire).subspan(i * kBlockBytes, kBlockBytes);
            // A failed chunk is read again sector by sector; a sector that fails alone is zeros.
            if (result.status != simdrive::status::good &&
                ReadBlocks(drive, first + i, 1, block).status != simdrive::status::good) {
                std::fill(block.begin(), block.end(), 0);
                ++delivery.failedSectors;
                if (delivery.firstFailed < 0) {
                    delivery.firstFailed = first + i;
                }
            }
            std::copy_n(block.begin(), simdrive::kAudioBytes,
                        delivery.audio.begin() + std::size_t{first + i} * simdrive::kAudioBytes);
            std::copy_n(block.begin() + simdrive::kAudioBytes, simdrive::kC2Bytes,
                        delivery.c2.begin() + std::size_t{first + i} * simdrive::kC2Bytes);
        }
        // Quellor shows progress after every chunk but the last; to a log, each text once and
        // a new line for each tenth of the disc.
        if (first + kChunkSectors < leadOut) {
            const double percent = (first + kChunkSectors) * 100.0 / leadOut;
            const long long tenths = std::llround(percent * 10.0);
            if (tenths != lastTenths) {
                if (lastTenths >= 0 && tenths / 100 != lastTenths / 100) {
                    delivery.progress += '\n';
                }
                lastTenths = tenths;
                char text[32];
                std::snprintf(text, sizeof text, "\r%5.1f%% Done", percent);
                delivery.progress += text;
            }
        }
    }
    return delivery;
}

// A study pass's pointers: the form's own honesty and lag at the speed SET CD SPEED gives.
void UseStudyPointers(simdrive::Drive& drive, std::string_view form, std::string_view speed,
                      Delivery& delivery) {
    constexpr std::array<std::string_view, simdrive::kC2FormCount> names{"readcd14", "d8",
                                                                          "density", "readcd12"};
    const auto found = std::find(names.begin(), names.end(), form);
    if (found == names.end()) {
        throw std::invalid_argument("no form " + std::string(form));
    }
    // N x 176.4 kB/s, rounded up to the whole kB/s the command's field takes.
    const std::uint32_t requested =
        speed == "max" ? 0xFFFF : (std::stoul(std::string(speed)) * 1764 + 9) / 10;
    const auto model = static_cast<simdrive::C2Form>(found - names.begin());
    const std::uint32_t kBps = drive.SelectSpeed(requested);
    for (std::size_t s = 0; s * simdrive::kC2Bytes < delivery.c2.size(); ++s) {
        const auto truth = drive.Truth(static_cast<std::int64_t>(s), model, kBps);
        std::copy(truth.delivered.begin(), truth.delivered.end(),
                  delivery.c2.begin() + s * simdrive::kC2Bytes);
    }
}

template <typename Container>
std::span<const std::uint8_t> Bytes(const Container& container) {
    return {reinterpret_cast<const std::uint8_t*>(container.data()), container.size()};
}

bool WriteFile(const std::filesystem::path& path, std::span<const std::uint8_t> head,
               std::span<const std::uint8_t> body) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(head.data()),
              static_cast<std::streamsize>(head.size()));
    out.write(reinterpret_cast<const char*>(body.data()),
              static_cast<std::streamsize>(body.size()));
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5 && argc != 7) {
        std::fprintf(stderr, "usage: rig_truth <description> <drive index> <folder> <base name> "
                             "[<form> <speed>]\n");
        return 2;
    }
    std::string error;
    auto set = simdrive::DriveSet::Load(argv[1], simdrive::LoadOptions::FromEnvironment(), error);
    const std::size_t index = std::stoul(argv[2]);
    if (!set || index >= set->Count()) {
        std::fprintf(stderr, "rig_truth: %s\n", set ? "no such drive" : error.c_str());
        return 1;
    }
    // A twin with READ CD's C2 form, whatever forms the described drive offers.
    simdrive::Drive& described = set->At(index);
    simdrive::DriveSettings settings = described.Settings();
    settings.readCdForms = {0x10, 0x12};
    settings.manners = {};  // the truth is that of a drive without manners
    simdrive::Drive twin(settings, described.EjectDisc());
    const auto leadOut = static_cast<std::uint32_t>(twin.LeadOut());
    Delivery delivery = Deliver(twin, leadOut);
    if (argc == 7) {
        UseStudyPointers(twin, argv[5], argv[6], delivery);
    }

    const std::filesystem::path folder = argv[3];
    const std::string base = argv[4];
    const auto header = wav::MakeWavHeader(static_cast<std::uint32_t>(delivery.audio.size()));
    std::string console = testing_support::quellorBanner + delivery.progress + "\n";
    if (delivery.failedSectors > 0) {
        console += "Reads failed for " + std::to_string(delivery.failedSectors) +
                   " sectors, the first at sector " + std::to_string(delivery.firstFailed) +
                   "; they are stored as zeros.\n";
    }
    const bool written = WriteFile(folder / (base + ".wav"), Bytes(header), delivery.audio) &&
                         WriteFile(folder / (base + ".c2"), {}, delivery.c2) &&
                         WriteFile(folder / "stdout", Bytes(console), {});
    if (!written) {
        std::fprintf(stderr, "rig_truth: cannot write into %s\n", argv[3]);
        return 1;
    }
    return 0;
}
