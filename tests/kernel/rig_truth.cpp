// rig_truth <description> <drive index> <folder> <base name>: what Quellor must write for one
// drive of a description, worked out from the drive model alone: <base name>.wav and .c2 with
// every sector as the drive delivers it (read in Quellor's 24-sector chunks, so a failed chunk
// holds what the drive sent before its failure and zeros after it), and "stdout", the console
// text of the run. The kernel rig compares Quellor's files with these byte for byte.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
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

// The drive's own delivery through READ CD with audio and C2 pointers, which carries the same
// bytes as every other C2 form of the model.
Delivery Deliver(simdrive::Drive& drive, std::uint32_t leadOut) {
    Delivery delivery;
    delivery.audio.resize(std::size_t{leadOut} * simdrive::kAudioBytes);
    delivery.c2.resize(std::size_t{leadOut} * simdrive::kC2Bytes);
    std::vector<std::uint8_t> wire(kChunkSectors * kBlockBytes);
    std::array<std::uint8_t, 18> sense{};
    for (std::uint32_t first = 0; first < leadOut; first += kChunkSectors) {
        const std::uint32_t count = std::min(kChunkSectors, leadOut - first);
        std::fill(wire.begin(), wire.end(), 0);
        const auto command = simdrive::ReadCdCommand(first, static_cast<std::uint8_t>(count), 0x12);
        const auto result = drive.Execute(command, simdrive::Direction::in,
                                          std::span(wire).first(count * kBlockBytes), sense);
        if (result.status != simdrive::status::good) {
            delivery.failedSectors += count;
            if (delivery.firstFailed < 0) {
                delivery.firstFailed = first;
            }
        }
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint8_t* block = wire.data() + std::size_t{i} * kBlockBytes;
            std::copy_n(block, simdrive::kAudioBytes,
                        delivery.audio.begin() + std::size_t{first + i} * simdrive::kAudioBytes);
            std::copy_n(block + simdrive::kAudioBytes, simdrive::kC2Bytes,
                        delivery.c2.begin() + std::size_t{first + i} * simdrive::kC2Bytes);
        }
        // Quellor shows progress after every chunk but the last.
        if (first + kChunkSectors < leadOut) {
            char text[32];
            std::snprintf(text, sizeof text, "\r%5.1f%% Done",
                          (first + kChunkSectors) * 100.0 / leadOut);
            delivery.progress += text;
        }
    }
    return delivery;
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
    if (argc != 5) {
        std::fprintf(stderr, "usage: rig_truth <description> <drive index> <folder> <base name>\n");
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
    simdrive::Drive twin(settings, described.EjectDisc());
    const auto leadOut = static_cast<std::uint32_t>(twin.LeadOut());
    const Delivery delivery = Deliver(twin, leadOut);

    const std::filesystem::path folder = argv[3];
    const std::string base = argv[4];
    const auto header = wav::MakeWavHeader(static_cast<std::uint32_t>(delivery.audio.size()));
    std::string console = testing_support::quellorBanner + delivery.progress + "\n";
    if (delivery.failedSectors > 0) {
        console += "Reads failed for " + std::to_string(delivery.failedSectors) +
                   " sectors, the first at sector " + std::to_string(delivery.firstFailed) +
                   "; they are stored as the drive delivered them.\n";
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
