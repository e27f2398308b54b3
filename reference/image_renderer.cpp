#include "reference/image_renderer.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstring>
#include <thread>
#include <utility>  // runtime/error.h uses std::in_range
#include <vector>

#include "reference/fast_mix.h"
#include "reference/synthesis.h"
#include "reference/tamblin.h"
#include "reference/x87.h"
#include "runtime/error.h"
#include "runtime/sync.h"
#include "runtime/thread.h"

namespace reference {
namespace {

constexpr std::int64_t chunkFrames = chunkBlocks * blockFrames;
// Pieces of 50 blocks: small enough to share a chunk out evenly, large enough that taking one
// costs nothing next to computing it.
constexpr std::int64_t pieceFrames = 50 * blockFrames;
constexpr std::int64_t piecesPerChunk = (chunkFrames + pieceFrames - 1) / pieceFrames;
// Planned ahead of the chunk being written: the computing threads never wait for the writer.
constexpr std::size_t slotCount = 4;
constexpr std::int32_t maxThreads = 8;
constexpr std::size_t workerStackSize = 256 * 1024;

static_assert(imageBlocks * blockFrames == imageFrames);
static_assert(chunkFrames >= rightChannelDelay, "a chunk carries the delay line on by itself");

// Frame `index` of a chunk: the left and the right sample, each 16 bits little-endian, which on
// this little-endian processor is the 32-bit word with the left sample in its low half.
static_assert(std::endian::native == std::endian::little, "the reference builds for x86 only");
void PutFrame(std::span<std::byte> bytes, std::size_t index, std::int16_t left,
              std::int16_t right) {
    const std::uint32_t frame = static_cast<std::uint16_t>(left) |
                                static_cast<std::uint32_t>(static_cast<std::uint16_t>(right)) << 16;
    std::memcpy(bytes.data() + index * sizeof(frame), &frame, sizeof(frame));
}

// One chunk in flight: its plan, its left samples and its bytes.
struct Chunk {
    std::vector<std::uint16_t> noise = std::vector<std::uint16_t>(chunkFrames);
    std::vector<VoiceEpoch> epochs = std::vector<VoiceEpoch>(MaxEpochs(chunkFrames));
    std::vector<std::int16_t> left = std::vector<std::int16_t>(chunkFrames);
    std::vector<std::byte> bytes = std::vector<std::byte>(chunkFrames * 4);
    FramePlan plan;
    std::int64_t firstBlock = 0;
    std::int64_t blocks = 0;
    std::atomic<std::int64_t> piecesLeft{0};
    std::atomic<std::int64_t> fallbacks{0};
    runtime::Event done{runtime::ResetMode::manual};
};

class Renderer {
public:
    Renderer(BlockSink& sink, std::int64_t firstBlock, std::int64_t blockCount, FastMixForm form)
        : sink_(sink),
          firstBlock_(firstBlock),
          blockCount_(blockCount),
          chunkCount_((blockCount + chunkBlocks - 1) / chunkBlocks),
          form_(form) {}

    RenderResult Run(std::int32_t threads);

private:
    static std::int32_t WorkerMain(std::intptr_t self);
    void Work();

    void StartWorkers(std::int32_t count);
    void StopWorkers();
    void BeginAt(std::int64_t frame);
    void Plan(std::int64_t chunk);
    void Publish();
    [[nodiscard]] bool TakePiece(std::int64_t& piece);
    [[nodiscard]] bool WaitForPiece(std::int64_t& piece);
    void ComputePiece(std::int64_t piece);
    void WaitForChunk(std::int64_t chunk);
    void Assemble(Chunk& chunk);

    Chunk& SlotOf(std::int64_t chunk) {
        return slots_[static_cast<std::size_t>(chunk) % slotCount];
    }

    BlockSink& sink_;
    const std::int64_t firstBlock_;
    const std::int64_t blockCount_;
    const std::int64_t chunkCount_;
    const FastMixForm form_;

    Synthesis planner_;
    std::array<Chunk, slotCount> slots_;
    std::array<std::int16_t, rightChannelDelay> carry_{};  // left samples of the last 128 frames

    runtime::CriticalSection lock_;
    runtime::Event workReady_{runtime::ResetMode::manual};
    std::int64_t publishedPieces_ = 0;  // under lock_
    std::int64_t nextPiece_ = 0;        // under lock_
    bool stopping_ = false;             // under lock_
    std::array<runtime::Thread*, maxThreads> workers_{};
};

RenderResult Renderer::Run(std::int32_t threads) {
    RenderResult result;
    BeginAt(firstBlock_ * blockFrames);
    StartWorkers(std::clamp(threads, 1, maxThreads) - 1);
    std::int64_t planned = 0;
    std::int64_t written = 0;
    for (; written < chunkCount_; ++written) {
        for (; planned < chunkCount_ && planned < written + std::ssize(slots_); ++planned) {
            Plan(planned);
            Publish();
        }
        WaitForChunk(written);
        Chunk& chunk = SlotOf(written);
        Assemble(chunk);
        result.fallbackFrames += chunk.fallbacks.load();
        if (!sink_.TakeBlocks(chunk.firstBlock,
                              std::span{chunk.bytes}.first(static_cast<std::size_t>(
                                  chunk.blocks * static_cast<std::int64_t>(blockBytes))))) {
            break;
        }
    }
    StopWorkers();
    result.complete = written == chunkCount_;
    return result;
}

std::int32_t Renderer::WorkerMain(std::intptr_t self) {
    reinterpret_cast<Renderer*>(self)->Work();
    return 0;
}

void Renderer::Work() {
    // The exact fallback needs the x87 unit at extended precision on this thread too.
    x87::UseExtendedNearest();
    std::int64_t piece = 0;
    while (WaitForPiece(piece)) {
        ComputePiece(piece);
    }
}

void Renderer::StartWorkers(std::int32_t count) {
    // A thread that cannot start leaves its share to the others; the caller computes too.
    for (std::int32_t i = 0; i < count; ++i) {
        (void)runtime::StartThread(workers_[static_cast<std::size_t>(i)], WorkerMain,
                                   reinterpret_cast<std::intptr_t>(this), workerStackSize, true);
    }
}

void Renderer::StopWorkers() {
    {
        runtime::ScopedLock hold(lock_);
        stopping_ = true;
        workReady_.Set();
    }
    for (runtime::Thread*& worker : workers_) {
        std::int32_t ignored = 0;
        if (worker != nullptr) {
            (void)runtime::WaitThread(worker, runtime::waitForever, ignored);
        }
    }
}

// The planner stands before `frame`, and the carry holds the 128 left samples before it.
void Renderer::BeginAt(std::int64_t frame) {
    planner_.BeginImage();
    const std::int64_t carried = std::min<std::int64_t>(frame, rightChannelDelay);
    planner_.DrawTo(frame - carried);
    if (carried == 0) {
        return;
    }
    Chunk& scratch = slots_[0];
    scratch.plan.noise = std::span{scratch.noise}.first(static_cast<std::size_t>(carried));
    scratch.plan.epochStorage = scratch.epochs;
    planner_.PlanFrames(scratch.plan);
    const auto left = std::span{carry_}.last(static_cast<std::size_t>(carried));
    (void)FastLeftSamples(scratch.plan, 0, left, {}, form_);
}

void Renderer::Plan(std::int64_t index) {
    Chunk& chunk = SlotOf(index);
    chunk.firstBlock = firstBlock_ + index * chunkBlocks;
    chunk.blocks = std::min(chunkBlocks, blockCount_ - index * chunkBlocks);
    chunk.plan.noise =
        std::span{chunk.noise}.first(static_cast<std::size_t>(chunk.blocks * blockFrames));
    chunk.plan.epochStorage = chunk.epochs;
    planner_.PlanFrames(chunk.plan);
    chunk.fallbacks = 0;
    chunk.done.Reset();
    chunk.piecesLeft = piecesPerChunk;
}

void Renderer::Publish() {
    runtime::ScopedLock hold(lock_);
    publishedPieces_ += piecesPerChunk;
    workReady_.Set();
}

bool Renderer::TakePiece(std::int64_t& piece) {
    runtime::ScopedLock hold(lock_);
    if (nextPiece_ >= publishedPieces_) {
        return false;
    }
    piece = nextPiece_++;
    return true;
}

bool Renderer::WaitForPiece(std::int64_t& piece) {
    for (;;) {
        {
            runtime::ScopedLock hold(lock_);
            if (stopping_) {
                return false;
            }
            if (nextPiece_ < publishedPieces_) {
                piece = nextPiece_++;
                return true;
            }
            // Reset under the lock: a piece published after this sets the event again.
            workReady_.Reset();
        }
        workReady_.Wait();
    }
}

void Renderer::ComputePiece(std::int64_t piece) {
    Chunk& chunk = SlotOf(piece / piecesPerChunk);
    const std::int64_t from = (piece % piecesPerChunk) * pieceFrames;
    const std::int64_t to = std::min(from + pieceFrames, chunk.plan.FrameCount());
    if (from < to) {
        const auto left = std::span{chunk.left}.subspan(static_cast<std::size_t>(from),
                                                        static_cast<std::size_t>(to - from));
        chunk.fallbacks += FastLeftSamples(chunk.plan, from, left, {}, form_);
    }
    if (--chunk.piecesLeft == 0) {
        chunk.done.Set();
    }
}

// The caller computes pieces too while its chunk is unfinished.
void Renderer::WaitForChunk(std::int64_t index) {
    Chunk& chunk = SlotOf(index);
    std::int64_t piece = 0;
    while (chunk.piecesLeft.load() > 0) {
        if (TakePiece(piece)) {
            ComputePiece(piece);
        } else {
            chunk.done.Wait();
        }
    }
    // The thread that finished the last piece has set the event, or is about to: wait for it,
    // so that its late Set cannot mark the slot's next chunk done.
    chunk.done.Wait();
}

void Renderer::Assemble(Chunk& chunk) {
    const auto frames = static_cast<std::size_t>(chunk.plan.FrameCount());
    const std::span<const std::int16_t> left{chunk.left.data(), frames};
    const std::span<std::byte> bytes = chunk.bytes;  // held here: a byte store may alias anything
    const std::size_t carried = carry_.size();
    for (std::size_t i = 0; i < carried; ++i) {
        PutFrame(bytes, i, left[i], carry_[i]);
    }
    // The bulk of the chunk: a plain loop over whole frames, which the compiler runs in vectors.
    for (std::size_t i = carried; i < frames; ++i) {
        PutFrame(bytes, i, left[i], left[i - carried]);
    }
    std::copy(left.end() - static_cast<std::ptrdiff_t>(carried), left.end(), carry_.begin());
}

}  // namespace

std::int32_t DefaultRenderThreads() {
    const unsigned cores = std::thread::hardware_concurrency();
    return std::clamp(static_cast<std::int32_t>(cores), 1, maxThreads);
}

RenderResult RenderImage(BlockSink& sink, std::int64_t firstBlock, std::int64_t blockCount,
                         std::int32_t threads, FastMixForm form) {
    runtime::CheckRange(0 <= firstBlock && 0 < blockCount &&
                        firstBlock + blockCount <= imageBlocks && FormRuns(form));
    Renderer renderer(sink, firstBlock, blockCount, form);
    return renderer.Run(threads);
}

}  // namespace reference
