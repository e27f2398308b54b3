// The whole reference image, rendered with each form of the fast mix this processor runs, must
// have the published SHA-256. A form the processor lacks is skipped and says so.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <array>
#include <cstdint>
#include <memory>
#include <ostream>
#include <span>
#include <string>

#include "reference/fast_mix.h"
#include "reference/image_renderer.h"
#include "reference/synthesis.h"
#include "reference/tamblin.h"
#include "wav/wav_header.h"

namespace reference {
namespace {

constexpr std::string_view publishedSha256 =
    "058e838a14c24686f556042d9eb6f5ac50476c75fdce8265c94b80d5ceb30310";

// The SHA-256 of the header and the chunks in the order they arrive; also checks that they
// arrive in order and whole.
class Sha256Sink final : public BlockSink {
public:
    Sha256Sink() { EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr); }

    void Add(std::span<const std::byte> bytes) {
        EVP_DigestUpdate(context_.get(), bytes.data(), bytes.size());
    }
    bool TakeBlocks(std::int64_t firstBlock, std::span<const std::byte> bytes) override {
        inOrder = inOrder && firstBlock == nextBlock;
        nextBlock = firstBlock + static_cast<std::int64_t>(bytes.size() / blockBytes);
        Add(bytes);
        return true;
    }
    [[nodiscard]] std::string Hex() {
        std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
        unsigned int size = 0;
        EVP_DigestFinal_ex(context_.get(), digest.data(), &size);
        std::string hex;
        for (unsigned int i = 0; i < size; ++i) {
            constexpr std::string_view digits = "0123456789abcdef";
            hex += digits[digest[i] >> 4];
            hex += digits[digest[i] & 15];
        }
        return hex;
    }

    bool inOrder = true;
    std::int64_t nextBlock = 0;

private:
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context_{EVP_MD_CTX_new(),
                                                                     EVP_MD_CTX_free};
};

}  // namespace

void PrintTo(FastMixForm form, std::ostream* out) {
    *out << FormName(form);
}

namespace {

class WholeImage : public testing::TestWithParam<FastMixForm> {};

TEST_P(WholeImage, HasThePublishedSha256) {
    const FastMixForm form = GetParam();
    if (!FormRuns(form)) {
        GTEST_SKIP() << "this build or processor cannot run the " << FormName(form) << " form";
    }
    Sha256Sink sink;
    sink.Add(wav::MakeWavHeader(static_cast<std::uint32_t>(imageFrames * 4)));
    const RenderResult result = RenderImage(sink, 0, imageBlocks, DefaultRenderThreads(), form);
    EXPECT_TRUE(result.complete);
    EXPECT_TRUE(sink.inOrder);
    EXPECT_EQ(sink.nextBlock, imageBlocks);
    EXPECT_GT(result.fallbackFrames, 0);
    EXPECT_EQ(sink.Hex(), publishedSha256) << FormName(form) << " form";
}

INSTANTIATE_TEST_SUITE_P(EveryForm, WholeImage, testing::ValuesIn(fastMixForms),
                         [](const testing::TestParamInfo<FastMixForm>& info) {
                             return std::string(FormName(info.param));
                         });

}  // namespace
}  // namespace reference
