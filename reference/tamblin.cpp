#include "reference/tamblin.h"

#include <algorithm>
#include <span>
#include <string_view>
#include <utility>  // runtime/error.h uses std::in_range

#include "reference/image_renderer.h"
#include "reference/synthesis.h"
#include "runtime/console.h"
#include "runtime/error.h"
#include "runtime/file_channel.h"
#include "runtime/format.h"
#include "runtime/timer.h"
#include "wav/wav_header.h"

namespace reference {
namespace {

constexpr std::string_view banner = "Reference CD Image Creation for Marrowby V1.0";
constexpr std::string_view copyright = "Copyright (c) the Marrowby developers";
constexpr std::int64_t bytesPerFrame = 4;

class TextBuilder {
public:
    explicit TextBuilder(ProgressText& text) : text_(text) {}
    void Add(std::string_view piece) {
        runtime::CheckIndex(text_.size + piece.size(), text_.chars.size() + 1);
        for (char c : piece) {
            text_.chars[text_.size++] = c;
        }
    }
    // Minutes and seconds always show two digits.
    void AddTwoDigits(std::int64_t value) {
        if (value < 10) {
            Add("0");
        }
        Add(runtime::FormatInt(value, 0).View());
    }

private:
    ProgressText& text_;
};

void PrintBanner() {
    runtime::WriteLn();
    runtime::WriteString(banner);
    runtime::WriteLn();
    runtime::WriteString(copyright);
    runtime::WriteLn();
    runtime::WriteLn();
}

// A write that failed leaves a file whose header promises the whole image: say so plainly
// instead of carrying on for minutes and claiming success.
std::int32_t ReportWriteFailure(const runtime::FileChannel& file) {
    runtime::WriteLn();
    runtime::WriteString("Cannot write file! ");
    runtime::WriteString(imageFileName);
    runtime::WriteString(" is incomplete (system error ");
    runtime::WriteInt(file.result, 0);
    runtime::WriteString(").");
    runtime::WriteLn();
    return 1;
}

// Writes each chunk as one write and prints the progress lines of its blocks, in order, once they
// are in the file. After a failed write the lines stop at the block that failed, as if every
// block were written on its own.
class ImageFile final : public BlockSink {
public:
    explicit ImageFile(runtime::FileChannel& file) : file_(file) {}

    bool TakeBlocks(std::int64_t firstBlock, std::span<const std::byte> bytes) override {
        runtime::WriteBlock(file_, bytes);
        const auto blocks = static_cast<std::int64_t>(bytes.size() / blockBytes);
        const std::int64_t reached =
            file_.result == 0
                ? blocks
                : std::min(blocks, file_.bytesMoved / static_cast<std::int64_t>(blockBytes) + 1);
        for (std::int64_t block = firstBlock; block < firstBlock + reached; ++block) {
            const std::int64_t lastFrame = (block + 1) * blockFrames - 1;
            const std::int64_t progress = ProgressHundredths(lastFrame);
            if (progress != lastShown_) {
                ProgressLine(progress, lastFrame);
                lastShown_ = progress;
            }
        }
        return file_.result == 0;
    }

private:
    runtime::FileChannel& file_;
    std::int64_t lastShown_ = 0;
};

}  // namespace

void WriteWavHeader(std::int64_t frames, runtime::FileChannel& file) {
    const auto dataSize =
        runtime::Narrow<std::uint32_t>(runtime::CheckedMul(frames, bytesPerFrame));
    (void)runtime::CheckedAdd(dataSize, static_cast<std::uint32_t>(wav::headerSize));
    runtime::WriteBlock(file, wav::MakeWavHeader(dataSize));
}

std::int64_t ProgressHundredths(std::int64_t frame) {
    return (frame * 10'000) / imageFrames;
}

std::int64_t RemainingSeconds(std::int32_t elapsedMilliseconds, std::int64_t frame) {
    return (elapsedMilliseconds * (imageFrames - frame)) / (1'000 * frame);
}

ProgressText FormatProgressLine(std::int64_t hundredths, std::int64_t remainingSeconds) {
    ProgressText text;
    TextBuilder line(text);
    // Whole tenths only, so 99.96 % never shows as 100.0.
    const double percent = static_cast<double>(hundredths / 10) * 0.1;
    line.Add("\r");
    line.Add(runtime::FormatFixed(percent, 1, 5, runtime::Dialect::tamblin).View());
    line.Add("% Done - Estimated Remaining ");
    line.Add(runtime::FormatInt(remainingSeconds / 3'600, 2).View());
    line.Add(":");
    line.AddTwoDigits((remainingSeconds / 60) % 60);
    line.Add(":");
    line.AddTwoDigits(remainingSeconds % 60);
    return text;
}

void ProgressLine(std::int64_t hundredths, std::int64_t frame) {
    const std::int64_t remaining = RemainingSeconds(runtime::ElapsedMilliseconds(), frame);
    runtime::WriteString(FormatProgressLine(hundredths, remaining).View());
}

std::int32_t RunTamblin(FastMixForm form) {
    PrintBanner();

    runtime::FileChannel file;
    runtime::CreateOutputFile(imageFileName, file);
    if (file.result != 0) {
        runtime::WriteString("Cannot create file!");
        runtime::WriteLn();
        return 1;
    }
    WriteWavHeader(imageFrames, file);
    if (file.result != 0) {
        return ReportWriteFailure(file);
    }
    runtime::StartTimer();

    ImageFile image(file);
    if (!RenderImage(image, 0, imageBlocks, DefaultRenderThreads(), form).complete) {
        return ReportWriteFailure(file);
    }
    // Closing can still report a failed write of data the system held back.
    runtime::CloseFile(file);
    if (file.result != 0) {
        return ReportWriteFailure(file);
    }
    runtime::WriteLn();
    runtime::WriteLn();
    runtime::WriteString("Finished!");
    runtime::WriteLn();
    runtime::WriteLn();
    return 0;
}

}  // namespace reference
