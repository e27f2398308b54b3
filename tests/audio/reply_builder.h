// Drive replies assembled byte by byte for the decoder tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <vector>

namespace audio_testing {

class Reply {
public:
    explicit Reply(std::size_t size = 0) : bytes_(size, std::byte{0}) {}

    Reply& Put(std::size_t at, std::initializer_list<std::uint8_t> values) {
        for (const std::uint8_t value : values) {
            if (at >= bytes_.size()) {
                bytes_.resize(at + 1, std::byte{0});
            }
            bytes_[at++] = std::byte{value};
        }
        return *this;
    }
    Reply& PutBe16(std::size_t at, std::uint32_t value) {
        return Put(at, {static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)});
    }
    Reply& PutBe32(std::size_t at, std::uint32_t value) {
        PutBe16(at, value >> 16);
        return PutBe16(at + 2, value & 0xFFFF);
    }
    [[nodiscard]] std::span<const std::byte> Bytes() const { return bytes_; }
    [[nodiscard]] std::size_t Size() const { return bytes_.size(); }

private:
    std::vector<std::byte> bytes_;
};

struct TrackDescriptor {
    std::uint8_t adrControl = 0x10;
    std::uint8_t track = 1;
    std::uint32_t address = 0;
};

// A READ TOC format-0 reply: header, then the descriptors as given.
inline Reply TocReply(std::uint8_t firstTrack, std::uint8_t lastTrack,
                      std::initializer_list<TrackDescriptor> descriptors) {
    Reply reply(4);
    reply.PutBe16(0, static_cast<std::uint32_t>(2 + 8 * descriptors.size()));
    reply.Put(2, {firstTrack, lastTrack});
    std::size_t at = 4;
    for (const TrackDescriptor& d : descriptors) {
        reply.Put(at, {0, d.adrControl, d.track, 0});
        reply.PutBe32(at + 4, d.address);
        at += 8;
    }
    return reply;
}

struct FullDescriptor {
    std::uint8_t session = 1;
    std::uint8_t adrControl = 0x10;
    std::uint8_t point = 1;
    std::uint8_t pmin = 0;
    std::uint8_t psec = 0;
    std::uint8_t pframe = 0;
    std::uint8_t min = 0;
    std::uint8_t sec = 0;
    std::uint8_t frame = 0;
};

// A full-TOC reply whose declared length covers exactly the descriptors given.
inline Reply FullTocReply(std::initializer_list<FullDescriptor> descriptors) {
    Reply reply(4);
    reply.PutBe16(0, static_cast<std::uint32_t>(2 + 11 * descriptors.size()));
    reply.Put(2, {1, 1});
    std::size_t at = 4;
    for (const FullDescriptor& d : descriptors) {
        reply.Put(at, {d.session, d.adrControl, 0, d.point, d.min, d.sec, d.frame, 0, d.pmin,
                       d.psec, d.pframe});
        at += 11;
    }
    return reply;
}

}  // namespace audio_testing
