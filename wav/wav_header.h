// The 44-byte RIFF/WAVE header in front of the audio of both programs' files.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace runtime {
class FileChannel;
}

namespace wav {

inline constexpr std::size_t headerSize = 44;
using WavHeader = std::array<std::byte, headerSize>;

struct PcmFormat {
    std::uint16_t formatTag = 1;  // PCM
    std::uint16_t channels = 2;
    std::uint32_t sampleRate = 44'100;
    std::uint32_t byteRate = 176'400;
    std::uint16_t blockAlign = 4;
};

inline constexpr PcmFormat cdAudio{};
inline constexpr std::uint16_t bitsPerSample = 16;
// Largest data size whose file length, header included, still fits in 32 bits.
inline constexpr std::uint32_t maxDataSize = 4'294'967'251;

// The header for `dataSize` bytes of audio; the caller keeps dataSize within maxDataSize.
[[nodiscard]] WavHeader MakeWavHeader(std::uint32_t dataSize, const PcmFormat& format = cdAudio);

// Writes the header at offset 0 of the file, leaving whatever follows it in place.
// A data size outside 0..maxDataSize is a programming error.
void StoreWavHeader(runtime::FileChannel& file, std::int64_t dataSize,
                    const PcmFormat& format = cdAudio);

}  // namespace wav
