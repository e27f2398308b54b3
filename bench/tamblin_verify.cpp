// Checks a whole "Reference.wav" written by Tamblin against the exact frame-by-frame computation
// and measures how far the fast mix strays from the exact one.
//   tamblin_verify <Reference.wav> [threads, default 2]
// The exact image takes about 11 minutes of one core; the frames are split between the threads.
// Prints the number of differing bytes (header, samples and length), the frames the fast path
// recomputes exactly, and the largest difference between the fast and the exact mix.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "reference/fast_mix.h"
#include "reference/synthesis.h"
#include "reference/tamblin.h"
#include "reference/x87.h"
#include "wav/wav_header.h"

namespace {

using namespace reference;

struct Tally {
    std::int64_t differingBytes = 0;
    std::int64_t fallbackFrames = 0;
    std::int64_t rescuedFrames = 0;    // fallback frames whose fast sample would have been wrong
    std::int64_t settledButWrong = 0;  // fast samples taken as they are and wrong: never expected
    std::int64_t clippedFrames = 0;
    double largestDifference = 0.0;
    std::int64_t largestDifferenceFrame = -1;
    bool readFailed = false;
};

std::atomic<std::int64_t> framesDone{0};

// Frames [first, end) of the image, computed exactly one by one as MixFrame does (draws, exact
// left sample, delay line), against the file's bytes.
void VerifyRange(const std::string& path, std::int64_t first, std::int64_t end, Tally& tally) {
    Synthesis synthesis;  // sets this thread's x87 unit
    synthesis.BeginImage();
    synthesis.SkipTo(first);  // exact for the last 128 frames: the delay line is right
    DelayLine delay;
    for (const std::int16_t value : synthesis.Delay().Values()) {
        (void)delay.Push(value);
    }
    std::ifstream file(path, std::ios::binary);
    file.seekg(static_cast<std::streamoff>(wav::headerSize) + first * 4);
    constexpr std::int64_t readFrames = 100 * blockFrames;
    std::vector<unsigned char> bytes(readFrames * 4);
    for (std::int64_t start = first; start < end; start += readFrames) {
        const std::int64_t count = std::min(readFrames, end - start);
        if (!file.read(reinterpret_cast<char*>(bytes.data()), count * 4)) {
            tally.readFailed = true;
            return;
        }
        for (std::int64_t i = 0; i < count; ++i) {
            const std::int64_t frame = start + i;
            const FrameDraws draws = synthesis.DrawFrame(frame);
            const double exact = ExactMix(synthesis.AllVoices(), frame, draws.noise);
            const double fast = FastMix(synthesis.AllVoices(), frame, draws.noise);
            const std::int16_t left = ClipToSample(exact);
            const std::int16_t right = delay.Push(left);
            const double difference = std::abs(fast - exact);
            if (difference > tally.largestDifference) {
                tally.largestDifference = difference;
                tally.largestDifferenceFrame = frame;
            }
            const bool fastIsRight = ClipToSample(fast) == left;
            if (!SampleIsSettled(fast, fastMixMargin)) {
                ++tally.fallbackFrames;
                tally.rescuedFrames += fastIsRight ? 0 : 1;
            } else if (!fastIsRight) {
                ++tally.settledButWrong;
            }
            if (exact > 32'767.0 || exact < -32'768.0) {
                ++tally.clippedFrames;
            }
            const auto l = static_cast<std::uint16_t>(left);
            const auto r = static_cast<std::uint16_t>(right);
            const unsigned char expected[4] = {
                static_cast<unsigned char>(l & 0xFF), static_cast<unsigned char>(l >> 8),
                static_cast<unsigned char>(r & 0xFF), static_cast<unsigned char>(r >> 8)};
            for (std::size_t b = 0; b < 4; ++b) {
                tally.differingBytes += bytes[static_cast<std::size_t>(i) * 4 + b] != expected[b];
            }
        }
        framesDone += count;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: tamblin_verify <Reference.wav> [threads]\n");
        return 2;
    }
    const std::string path = argv[1];
    const std::int64_t threads = argc > 2 ? std::max(1, std::stoi(argv[2])) : 2;
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file) {
        std::fprintf(stderr, "cannot open %s\n", path.c_str());
        return 2;
    }
    const std::int64_t size = file.tellg();
    const std::int64_t expectedSize = static_cast<std::int64_t>(wav::headerSize) + imageFrames * 4;

    std::int64_t differing = std::abs(size - expectedSize);
    const wav::WavHeader header = wav::MakeWavHeader(static_cast<std::uint32_t>(imageFrames * 4));
    std::vector<char> headerBytes(wav::headerSize);
    file.seekg(0);
    file.read(headerBytes.data(), static_cast<std::streamsize>(headerBytes.size()));
    for (std::size_t i = 0; i < header.size(); ++i) {
        differing +=
            static_cast<unsigned char>(headerBytes[i]) != static_cast<unsigned char>(header[i]);
    }
    if (size < expectedSize) {
        std::printf("image is %lld bytes, %lld short\n", static_cast<long long>(size),
                    static_cast<long long>(expectedSize - size));
        return 1;
    }

    // Split at block boundaries.
    const std::int64_t blocks = imageFrames / blockFrames;
    std::vector<Tally> tallies(static_cast<std::size_t>(threads));
    std::vector<std::thread> workers;
    for (std::int64_t t = 0; t < threads; ++t) {
        const std::int64_t first = blocks * t / threads * blockFrames;
        const std::int64_t end = blocks * (t + 1) / threads * blockFrames;
        workers.emplace_back(VerifyRange, path, first, end, std::ref(tallies[t]));
    }
    std::int64_t shownPercent = -1;
    while (framesDone.load() < imageFrames) {
        const std::int64_t percent = framesDone.load() * 100 / imageFrames;
        if (percent / 5 != shownPercent / 5) {
            std::fprintf(stderr, "%3lld%%\n", static_cast<long long>(percent));
            shownPercent = percent;
        }
        bool anyFailed = false;
        for (const Tally& tally : tallies) {
            anyFailed = anyFailed || tally.readFailed;
        }
        if (anyFailed) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    std::fprintf(stderr, "%3lld%%\n",
                 static_cast<long long>(framesDone.load() * 100 / imageFrames));

    Tally total;
    for (const Tally& tally : tallies) {
        if (tally.readFailed) {
            std::printf("reading %s failed\n", path.c_str());
            return 1;
        }
        total.differingBytes += tally.differingBytes;
        total.fallbackFrames += tally.fallbackFrames;
        total.rescuedFrames += tally.rescuedFrames;
        total.settledButWrong += tally.settledButWrong;
        total.clippedFrames += tally.clippedFrames;
        if (tally.largestDifference >= total.largestDifference) {
            total.largestDifference = tally.largestDifference;
            total.largestDifferenceFrame = tally.largestDifferenceFrame;
        }
    }
    differing += total.differingBytes;
    std::printf("differing bytes:                  %lld\n", static_cast<long long>(differing));
    std::printf("frames:                           %lld\n", static_cast<long long>(imageFrames));
    std::printf("exact fallback frames:            %lld\n",
                static_cast<long long>(total.fallbackFrames));
    std::printf("  of which the fast sample was wrong: %lld\n",
                static_cast<long long>(total.rescuedFrames));
    std::printf("fast samples kept but wrong:      %lld\n",
                static_cast<long long>(total.settledButWrong));
    std::printf("clipped frames:                   %lld\n",
                static_cast<long long>(total.clippedFrames));
    std::printf("largest |fast - exact| mix:       %.3e (frame %lld)\n", total.largestDifference,
                static_cast<long long>(total.largestDifferenceFrame));
    std::printf("fallback margin:                  %.3e\n", fastMixMargin);
    return differing == 0 && total.settledButWrong == 0 ? 0 : 1;
}
