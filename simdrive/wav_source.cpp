#include <algorithm>
#include <array>

#include "simdrive/audio_source.h"
#include "simdrive/bytes.h"
#include "simdrive/scsi.h"

namespace simdrive {

namespace {

constexpr uint64_t kWindowSectors = 64;
constexpr uint64_t kHeaderBytes = 44;

bool SameTag(std::span<const uint8_t> bytes, size_t at, const char (&tag)[5]) {
    return std::equal(tag, tag + 4, bytes.begin() + at);
}

// Walks the RIFF chunks and checks the format; on success sets the data chunk's place.
bool FindPcmData(const PositionedFile& file, uint64_t& dataStart, uint64_t& dataBytes,
                 std::string& error) {
    std::array<uint8_t, 12> riff{};
    if (!file.ReadAt(0, riff) || !SameTag(riff, 0, "RIFF") || !SameTag(riff, 8, "WAVE")) {
        error = "not a RIFF/WAVE file";
        return false;
    }
    bool formatSeen = false;
    uint64_t at = 12;
    std::array<uint8_t, 8> chunk{};
    while (at + chunk.size() <= file.Size() && file.ReadAt(at, chunk)) {
        const uint64_t length = GetLe32(chunk, 4);
        if (SameTag(chunk, 0, "fmt ")) {
            std::array<uint8_t, 16> format{};
            if (length < format.size() || !file.ReadAt(at + 8, format)) {
                error = "truncated format chunk";
                return false;
            }
            if (GetLe16(format, 0) != 1 || GetLe16(format, 2) != 2 || GetLe32(format, 4) != 44100 ||
                GetLe16(format, 14) != 16) {
                error = "audio is not 16-bit stereo 44,100 Hz PCM";
                return false;
            }
            formatSeen = true;
        } else if (SameTag(chunk, 0, "data")) {
            if (!formatSeen) {
                error = "data chunk before the format chunk";
                return false;
            }
            dataStart = at + 8;
            // A header written before its final size is known may claim more than is there.
            dataBytes = std::min(length, file.Size() - dataStart) / 4 * 4;
            return true;
        }
        at += 8 + length + (length & 1);
    }
    error = "no data chunk";
    return false;
}

}  // namespace

std::unique_ptr<WavSource> WavSource::Open(const std::string& path, std::string& error) {
    auto file = PositionedFile::Open(path, error);
    if (!file) {
        return nullptr;
    }
    uint64_t dataStart = 0;
    uint64_t dataBytes = 0;
    if (!FindPcmData(*file, dataStart, dataBytes, error)) {
        error = "'" + path + "': " + error;
        return nullptr;
    }
    return std::unique_ptr<WavSource>(new WavSource(std::move(*file), dataStart, dataBytes));
}

WavSource::WavSource(PositionedFile file, uint64_t dataStart, uint64_t dataBytes)
    : file_(std::move(file)),
      dataStart_(dataStart),
      dataBytes_(dataBytes),
      window_(kWindowSectors * kAudioBytes) {}

bool WavSource::FillWindow(uint64_t position) {
    windowStart_ = position / kAudioBytes * kAudioBytes;
    windowLength_ = std::min<uint64_t>(window_.size(), dataBytes_ - windowStart_);
    if (!file_.ReadAt(dataStart_ + windowStart_, std::span(window_).first(windowLength_))) {
        windowLength_ = 0;
        return false;
    }
    return true;
}

bool WavSource::Read(uint64_t position, std::span<uint8_t> out) {
    size_t done = 0;
    while (done < out.size()) {
        const uint64_t at = position + done;
        if (at < windowStart_ || at >= windowStart_ + windowLength_) {
            if (!FillWindow(at)) {
                return false;
            }
        }
        const uint64_t offset = at - windowStart_;
        const size_t take = std::min<uint64_t>(windowLength_ - offset, out.size() - done);
        std::copy_n(window_.begin() + static_cast<ptrdiff_t>(offset), take,
                    out.begin() + static_cast<ptrdiff_t>(done));
        done += take;
    }
    return true;
}

bool WriteWavFile(const std::string& path, AudioSource& source, std::string& error) {
    auto writer = SequentialWriter::Create(path, error);
    if (!writer) {
        return false;
    }
    const uint64_t total = source.ByteCount();
    std::array<uint8_t, kHeaderBytes> header{};
    std::copy_n("RIFF", 4, header.begin());
    PutLe32(header, 4, static_cast<uint32_t>(total + kHeaderBytes - 8));
    std::copy_n("WAVEfmt ", 8, header.begin() + 8);
    PutLe32(header, 16, 16);
    PutLe16(header, 20, 1);
    PutLe16(header, 22, 2);
    PutLe32(header, 24, 44100);
    PutLe32(header, 28, 44100 * 4);
    PutLe16(header, 32, 4);
    PutLe16(header, 34, 16);
    std::copy_n("data", 4, header.begin() + 36);
    PutLe32(header, 40, static_cast<uint32_t>(total));
    bool ok = writer->Write(header);
    std::vector<uint8_t> block(256 * kAudioBytes);
    for (uint64_t at = 0; ok && at < total; at += block.size()) {
        const auto chunk = std::span(block).first(std::min<uint64_t>(block.size(), total - at));
        ok = source.Read(at, chunk) && writer->Write(chunk);
    }
    ok = writer->Close() && ok;
    if (!ok) {
        error = "cannot write '" + path + "'";
    }
    return ok;
}

}  // namespace simdrive
