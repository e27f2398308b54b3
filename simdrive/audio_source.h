// Where a simulated disc's audio comes from: a CD-format WAV file streamed from disk, or a
// deterministic pattern generated on demand.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "simdrive/positioned_file.h"

namespace simdrive {

class AudioSource {
public:
    virtual ~AudioSource() = default;
    // Number of audio bytes in the image (a multiple of 4: whole stereo frames).
    [[nodiscard]] virtual uint64_t ByteCount() const = 0;
    // Copies image bytes [position, position + out.size()), which must lie inside the image.
    // False on an I/O error.
    [[nodiscard]] virtual bool Read(uint64_t position, std::span<uint8_t> out) = 0;
};

// Pattern audio: every stereo frame is a hash of its index and the seed, so any shift of the
// delivered audio shows up in a comparison.
class PatternSource final : public AudioSource {
public:
    PatternSource(uint64_t sectorCount, uint64_t seed) : sectorCount_(sectorCount), seed_(seed) {}
    [[nodiscard]] uint64_t ByteCount() const override;
    [[nodiscard]] bool Read(uint64_t position, std::span<uint8_t> out) override;
    [[nodiscard]] static uint32_t FrameAt(uint64_t seed, uint64_t frame);

private:
    uint64_t sectorCount_;
    uint64_t seed_;
};

// 16-bit stereo 44,100 Hz PCM WAV, read through a small window of sectors around the last
// read; the file is never loaded whole.
class WavSource final : public AudioSource {
public:
    // Returns null and fills `error` when the file is missing or not CD-format PCM.
    [[nodiscard]] static std::unique_ptr<WavSource> Open(const std::string& path,
                                                         std::string& error);
    [[nodiscard]] uint64_t ByteCount() const override { return dataBytes_; }
    [[nodiscard]] bool Read(uint64_t position, std::span<uint8_t> out) override;

private:
    WavSource(PositionedFile file, uint64_t dataStart, uint64_t dataBytes);
    [[nodiscard]] bool FillWindow(uint64_t position);

    PositionedFile file_;
    uint64_t dataStart_;
    uint64_t dataBytes_;
    std::vector<uint8_t> window_;
    uint64_t windowStart_ = 0;
    uint64_t windowLength_ = 0;
};

// Writes `source` as a 44-byte-header WAV file (used to make test and benchmark discs).
[[nodiscard]] bool WriteWavFile(const std::string& path, AudioSource& source, std::string& error);

}  // namespace simdrive
