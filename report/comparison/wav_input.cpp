#include "report/comparison/wav_input.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "report/comparison/cd_format.h"
#include "report/input/input_file.h"
#include "report/output/text.h"
#include "wav/wav_header.h"

namespace report {
namespace {

std::uint32_t Le32(const unsigned char* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}

std::uint16_t Le16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

bool IsCdFormat(const std::array<unsigned char, 16>& fmt) {
    return Le16(&fmt[0]) == wav::cdAudio.formatTag && Le16(&fmt[2]) == wav::cdAudio.channels &&
           Le32(&fmt[4]) == wav::cdAudio.sampleRate && Le16(&fmt[12]) == wav::cdAudio.blockAlign &&
           Le16(&fmt[14]) == wav::bitsPerSample;
}

}  // namespace

std::optional<std::uint64_t> FileSize(const std::string& path) {
    std::error_code failure;
    const auto size = std::filesystem::file_size(path, failure);
    if (failure) {
        return std::nullopt;
    }
    return size;
}

std::optional<WavLayout> OpenCdWav(const std::string& path, std::string& error) {
    const OpenedFile file = OpenInputFile(path, error);
    if (!file) {
        return std::nullopt;
    }
    const auto size = FileSize(path);
    if (!size) {
        error = "Cannot open " + Quoted(path) + ".";
        return std::nullopt;
    }
    const std::string notCd = "\"" + path + "\" is not a 16-bit stereo 44,100 Hz PCM WAV file.";
    std::array<unsigned char, 12> riff{};
    if (std::fread(riff.data(), 1, riff.size(), file.get()) != riff.size() ||
        std::string(riff.begin(), riff.begin() + 4) != "RIFF" ||
        std::string(riff.begin() + 8, riff.end()) != "WAVE") {
        error = notCd;
        return std::nullopt;
    }
    bool formatSeen = false;
    std::uint64_t position = riff.size();
    while (position + 8 <= *size) {
        std::array<unsigned char, 8> chunk{};
        if (std::fseek(file.get(), static_cast<long>(position), SEEK_SET) != 0 ||
            std::fread(chunk.data(), 1, chunk.size(), file.get()) != chunk.size()) {
            break;
        }
        const std::string id(chunk.begin(), chunk.begin() + 4);
        const std::uint64_t length = Le32(&chunk[4]);
        const std::uint64_t body = position + 8;
        if (id == "fmt ") {
            std::array<unsigned char, 16> fmt{};
            if (length < fmt.size() ||
                std::fread(fmt.data(), 1, fmt.size(), file.get()) != fmt.size() ||
                !IsCdFormat(fmt)) {
                error = notCd;
                return std::nullopt;
            }
            formatSeen = true;
        } else if (id == "data") {
            if (!formatSeen) {
                break;
            }
            WavLayout layout{body, length, {}};
            const std::uint64_t present = *size - body;
            if (length == 0 && present > 0) {
                // An extraction that was stopped before it rewrote its header declares no audio
                // although audio follows; the bytes on disk are what the drive delivered.
                layout.dataBytes = present;
                layout.note = "\"" + path + "\" declares no audio but holds " +
                              std::to_string(present) + " bytes after its header; using them.";
            } else if (length > present) {
                error = "\"" + path + "\" is truncated: its header declares " +
                        std::to_string(length) + " bytes of audio, the file holds " +
                        std::to_string(present) + ".";
                return std::nullopt;
            }
            if (layout.dataBytes % kFrameBytes != 0) {
                // What an extraction leaves when its disk filled up in the middle of a frame.
                error = "\"" + path + "\" does not end on a whole frame: its " +
                        std::to_string(layout.dataBytes) +
                        " bytes of audio are not a multiple of 4 (was it cut short?).";
                return std::nullopt;
            }
            return layout;
        }
        position = body + length + (length & 1);
    }
    error = notCd;
    return std::nullopt;
}

}  // namespace report
