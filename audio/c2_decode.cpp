#include "audio/c2_decode.h"

#include <algorithm>

#include "audio/bytes.h"
#include "audio/commands.h"
#include "runtime/error.h"

namespace audio {
namespace {

std::optional<bool> PageBit(std::span<const std::byte> reply, std::size_t pageAt, std::int32_t bit,
                            std::int32_t byteIndex) {
    runtime::CheckRange(bit >= 0 && bit < 8 && byteIndex >= 0);
    const std::size_t at = pageAt + static_cast<std::size_t>(byteIndex);
    if (at >= reply.size()) {
        return std::nullopt;
    }
    return ((ByteAt(reply, at) >> bit) & 1) != 0;
}

char UpperAscii(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

C2WireForm WireFormOf(std::int32_t method) {
    switch (method) {
        case c2ReadCdWithBlockError:  // audio, pointers, block error byte, pad byte
            return {audioBytesPerSector + c2PointerBytes + 2, 0, audioBytesPerSector};
        case c2DensitySwitch:  // pointers first, then the audio
            return {audioBytesPerSector + c2PointerBytes, c2PointerBytes, 0};
        default:  // audio, then pointers
            return {audioBytesPerSector + c2PointerBytes, 0, audioBytesPerSector};
    }
}

void SplitC2Transfer(std::int32_t method, std::span<const std::byte> wire, std::int32_t count,
                     std::span<std::byte> c2, std::span<std::byte> audio) {
    const C2WireForm form = WireFormOf(method);
    for (std::size_t i = 0; i < static_cast<std::size_t>(count); ++i) {
        runtime::CheckIndex((i + 1) * form.blockBytes - 1, wire.size());
        const auto block = wire.subspan(i * form.blockBytes, form.blockBytes);
        runtime::CheckIndex((i + 1) * audioBytesPerSector - 1, audio.size());
        runtime::CheckIndex((i + 1) * c2RecordBytes - 1, c2.size());
        const auto pointers = block.subspan(form.c2At, c2PointerBytes);
        const auto record = c2.subspan(i * c2RecordBytes, c2RecordBytes);
        std::copy_n(block.begin() + static_cast<std::ptrdiff_t>(form.audioAt), audioBytesPerSector,
                    audio.begin() + static_cast<std::ptrdiff_t>(i * audioBytesPerSector));
        std::copy(pointers.begin(), pointers.end(), record.begin());
        std::byte any{0};
        for (const std::byte bits : pointers) {
            any |= bits;
        }
        record[c2RecordBlockError] = any;
        record[c2RecordZero] = std::byte{0};
    }
}

std::optional<bool> CapabilityBitOfSense6(std::span<const std::byte> reply, std::int32_t bit,
                                          std::int32_t byteIndex) {
    if (reply.size() < 4) {
        return std::nullopt;
    }
    return PageBit(reply, 4 + std::size_t{ByteAt(reply, 3)}, bit, byteIndex);
}

std::optional<bool> CapabilityBitOfSense10(std::span<const std::byte> reply, std::int32_t bit,
                                           std::int32_t byteIndex) {
    if (reply.size() < 8) {
        return std::nullopt;
    }
    return PageBit(reply, 8 + std::size_t{ByteAt(reply, 7)}, bit, byteIndex);
}

bool HasC2WithoutBlockErrorName(std::string_view productName) {
    constexpr std::string_view prefix = "PLEXTOR CD-R ";
    // Upper-casing leaves bytes outside ASCII as they are: none of them can match the prefix.
    const std::size_t compared = std::min(productName.size(), prefix.size());
    if (productName.empty()) {
        return false;
    }
    for (std::size_t i = 0; i < compared; ++i) {
        if (UpperAscii(productName[i]) != prefix[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace audio
