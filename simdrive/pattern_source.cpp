#include "simdrive/audio_source.h"
#include "simdrive/bytes.h"
#include "simdrive/hash.h"
#include "simdrive/scsi.h"

#include <algorithm>
#include <array>

namespace simdrive {

uint64_t PatternSource::ByteCount() const {
    return sectorCount_ * kAudioBytes;
}

uint32_t PatternSource::FrameAt(uint64_t seed, uint64_t frame) {
    return static_cast<uint32_t>(Draw(seed, Stream::pattern, frame));
}

bool PatternSource::Read(uint64_t position, std::span<uint8_t> out) {
    std::array<uint8_t, 4> frameBytes{};
    size_t done = 0;
    while (done < out.size()) {
        const uint64_t at = position + done;
        const uint64_t frame = at / 4;
        PutLe32(frameBytes, 0, FrameAt(seed_, frame));
        const size_t within = at % 4;
        const size_t take = std::min<size_t>(4 - within, out.size() - done);
        std::copy_n(frameBytes.begin() + within, take, out.begin() + done);
        done += take;
    }
    return true;
}

}  // namespace simdrive
