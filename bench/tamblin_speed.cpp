// Frames per second of the reference image's two paths over the same range: the renderer Tamblin
// uses (fast mix, exact fallback, all cores) and the exact frame-by-frame MixFrame.
//   tamblin_speed [first block, default 10,000] [blocks, default 3,400 = 1,999,200 frames]
// The fast path renders the range five times. Also checks that both produce the same bytes, and
// prints how long the exact path would take for the whole image.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

#include "reference/image_renderer.h"
#include "reference/synthesis.h"
#include "reference/tamblin.h"

namespace {

using namespace reference;

constexpr std::uint64_t fnvOffset = 0xcbf29ce484222325u;
constexpr std::uint64_t fnvPrime = 0x100000001b3u;

void HashSample(std::uint64_t& hash, std::int16_t sample) {
    const auto bits = static_cast<std::uint16_t>(sample);
    for (const std::uint32_t byte : {bits & 0xFFu, static_cast<std::uint32_t>(bits >> 8)}) {
        hash = (hash ^ byte) * fnvPrime;
    }
}

class HashingSink final : public BlockSink {
public:
    bool TakeBlocks(std::int64_t, std::span<const std::byte> bytes) override {
        for (const std::byte b : bytes) {
            hash = (hash ^ static_cast<std::uint32_t>(b)) * fnvPrime;
        }
        return true;
    }
    std::uint64_t hash = fnvOffset;
};

struct Measured {
    double seconds = 0.0;
    double cpuSeconds = 0.0;
    std::uint64_t hash = 0;
    std::int64_t fallbacks = 0;
};

template <typename Work>
Measured Measure(Work work) {
    const auto start = std::chrono::steady_clock::now();
    const std::clock_t cpuStart = std::clock();
    Measured measured = work();
    measured.cpuSeconds = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    measured.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return measured;
}

constexpr std::int32_t fastRepeats = 5;

void Report(const char* name, const Measured& m, std::int64_t frames) {
    std::printf("%-34s %12.0f frames/s  (%.2f s wall, %.2f s CPU)\n", name,
                static_cast<double>(frames) / m.seconds, m.seconds, m.cpuSeconds);
}

}  // namespace

int main(int argc, char** argv) {
    const std::int64_t firstBlock = argc > 1 ? std::stoll(argv[1]) : 10'000;
    const std::int64_t blocks = argc > 2 ? std::stoll(argv[2]) : 3'400;
    const std::int64_t frames = blocks * blockFrames;
    std::printf("range: blocks %lld to %lld, %lld frames\n", static_cast<long long>(firstBlock),
                static_cast<long long>(firstBlock + blocks - 1), static_cast<long long>(frames));

    // The fast path is over in a fraction of a second: it renders the range several times.
    const std::int32_t threads = DefaultRenderThreads();
    const auto renderRepeatedly = [&](std::int32_t threadCount) {
        Measured measured;
        for (std::int32_t i = 0; i < fastRepeats; ++i) {
            HashingSink sink;
            const RenderResult result = RenderImage(sink, firstBlock, blocks, threadCount);
            measured.hash = sink.hash;
            measured.fallbacks = result.fallbackFrames;
        }
        return measured;
    };
    const Measured fast = Measure([&] { return renderRepeatedly(threads); });
    const Measured fastOneThread = Measure([&] { return renderRepeatedly(1); });

    Synthesis synthesis;
    synthesis.BeginImage();
    synthesis.SkipTo(firstBlock * blockFrames);
    const Measured exact = Measure([&] {
        std::uint64_t hash = fnvOffset;
        for (std::int64_t frame = firstBlock * blockFrames;
             frame < (firstBlock + blocks) * blockFrames; ++frame) {
            const StereoFrame out = synthesis.MixFrame(frame);
            HashSample(hash, out.left);
            HashSample(hash, out.right);
        }
        return Measured{.hash = hash};
    });

    const std::string fastName = "fast path (" + std::to_string(threads) + " threads)";
    Report(fastName.c_str(), fast, frames * fastRepeats);
    Report("fast path (1 thread)", fastOneThread, frames * fastRepeats);
    Report("exact frame-by-frame path", exact, frames);
    const double fastRatio = exact.seconds * fastRepeats / fast.seconds;
    const double oneThreadRatio = exact.seconds * fastRepeats / fastOneThread.seconds;
    std::printf("fast / exact:                      %.1f times (%.1f on one thread)\n", fastRatio,
                oneThreadRatio);
    std::printf("fast / exact in CPU time:          %.1f times\n",
                exact.cpuSeconds * fastRepeats / fast.cpuSeconds);
    std::printf("exact path, whole image:           %.0f s\n",
                exact.seconds * static_cast<double>(imageFrames) / static_cast<double>(frames));
    std::printf("exact fallback frames:             %lld\n",
                static_cast<long long>(fast.fallbacks));
    const bool same = fast.hash == exact.hash && fastOneThread.hash == exact.hash;
    std::printf("same bytes:                        %s\n", same ? "yes" : "NO");
    return same ? 0 : 1;
}
