#include "audio/c2_decode.h"

#include <algorithm>

#include "audio/bytes.h"
#include "audio/commands.h"
#include "runtime/error.h"

namespace audio {
namespace {

// Where the capabilities page starts: after the mode header and the block descriptors.
std::optional<std::size_t> PageStart(std::span<const std::byte> reply, bool tenByte) {
    const std::size_t header = tenByte ? 8 : 4;
    if (reply.size() < header) {
        return std::nullopt;
    }
    return header + std::size_t{ByteAt(reply, header - 1)};
}

std::optional<bool> PageBit(std::span<const std::byte> reply, bool tenByte, std::int32_t bit,
                            std::int32_t byteIndex) {
    runtime::CheckRange(bit >= 0 && bit < 8 && byteIndex >= 0);
    const std::optional<std::size_t> page = PageStart(reply, tenByte);
    const std::size_t at = page.value_or(0) + static_cast<std::size_t>(byteIndex);
    if (!page || at >= reply.size()) {
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
    return PageBit(reply, false, bit, byteIndex);
}

std::optional<bool> CapabilityBitOfSense10(std::span<const std::byte> reply, std::int32_t bit,
                                           std::int32_t byteIndex) {
    return PageBit(reply, true, bit, byteIndex);
}

std::optional<std::uint16_t> CapabilityWord(std::span<const std::byte> reply, bool tenByte,
                                            std::int32_t byteIndex) {
    runtime::CheckRange(byteIndex >= 0);
    const std::optional<std::size_t> page = PageStart(reply, tenByte);
    const std::size_t at = page.value_or(0) + static_cast<std::size_t>(byteIndex);
    if (!page || at + 1 >= reply.size()) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(Be16At(reply, at));
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
