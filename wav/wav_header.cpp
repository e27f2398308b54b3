#include "wav/wav_header.h"

#include "runtime/error.h"
#include "runtime/file_channel.h"

namespace wav {
namespace {

void PutTag(WavHeader& header, std::size_t offset, const char (&tag)[5]) {
    for (std::size_t i = 0; i < 4; ++i) {
        header[offset + i] = static_cast<std::byte>(tag[i]);
    }
}

void PutLittleEndian(WavHeader& header, std::size_t offset, std::uint32_t value,
                     std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) {
        header[offset + i] = static_cast<std::byte>((value >> (8 * i)) & 0xFF);
    }
}

}  // namespace

WavHeader MakeWavHeader(std::uint32_t dataSize, const PcmFormat& format) {
    WavHeader header{};
    PutTag(header, 0, "RIFF");
    PutLittleEndian(header, 4, dataSize + headerSize - 8, 4);  // file length minus 8
    PutTag(header, 8, "WAVE");
    PutTag(header, 12, "fmt ");
    PutLittleEndian(header, 16, 16, 4);  // format chunk size
    PutLittleEndian(header, 20, format.formatTag, 2);
    PutLittleEndian(header, 22, format.channels, 2);
    PutLittleEndian(header, 24, format.sampleRate, 4);
    PutLittleEndian(header, 28, format.byteRate, 4);
    PutLittleEndian(header, 32, format.blockAlign, 2);
    PutLittleEndian(header, 34, bitsPerSample, 2);
    PutTag(header, 36, "data");
    PutLittleEndian(header, 40, dataSize, 4);
    return header;
}

void StoreWavHeader(runtime::FileChannel& file, std::int64_t dataSize, const PcmFormat& format) {
    runtime::CheckRange(dataSize >= 0 && dataSize <= maxDataSize);
    const WavHeader header = MakeWavHeader(static_cast<std::uint32_t>(dataSize), format);
    runtime::SetFilePosition(file, 0);
    if (file.result == 0) {
        runtime::WriteBlock(file, header);
    }
}

}  // namespace wav
