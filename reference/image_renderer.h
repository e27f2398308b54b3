// The reference image's sample bytes, computed on all cores and handed out in order, in chunks
// of whole blocks.
//
// The calling thread draws each chunk's plan (segment picks and noise draws, which never depend
// on a sine) in frame order; worker threads and the calling thread then compute the chunk's left
// samples in pieces with FastLeftSamples, in any order; the calling thread adds the right channel
// (the left one 128 frames later) and passes the finished chunk to the sink. All buffers are
// allocated before the first chunk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "reference/fast_mix.h"

namespace reference {

inline constexpr std::int64_t imageBlocks = 333'000;
// 1,058,400 bytes: about a megabyte per write, and 740 chunks make the image.
inline constexpr std::int64_t chunkBlocks = 450;

class BlockSink {
public:
    virtual ~BlockSink() = default;
    // The next chunk: the bytes of blocks firstBlock, firstBlock + 1, ... (2,352 each). Returning
    // false stops the rendering.
    [[nodiscard]] virtual bool TakeBlocks(std::int64_t firstBlock,
                                          std::span<const std::byte> bytes) = 0;
};

struct RenderResult {
    bool complete = false;            // every block reached the sink, which took it
    std::int64_t fallbackFrames = 0;  // frames recomputed with the exact arithmetic
};

// Threads for the computation (the caller's included): the processor's, at most 8.
[[nodiscard]] std::int32_t DefaultRenderThreads();

// Renders blocks [firstBlock, firstBlock + blockCount) of the image into `sink`, byte for byte
// as Synthesis::MixFrame makes them, computing on `threads` threads including the caller's with
// the given form of the fast mix (one that runs here).
[[nodiscard]] RenderResult RenderImage(BlockSink& sink, std::int64_t firstBlock,
                                       std::int64_t blockCount,
                                       std::int32_t threads = DefaultRenderThreads(),
                                       FastMixForm form = FastestForm());

}  // namespace reference
