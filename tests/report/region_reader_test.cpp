// Positioned reads of a region: any request, wherever it lies, gives the region's bytes where
// it overlaps the region and zeros everywhere else.
#include <gtest/gtest.h>

#include <numeric>

#include "report/comparison/block_reader.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::TempDir;

struct Request {
    std::int64_t position;
    std::size_t size;
};

class RegionReaderTest : public testing::TestWithParam<Request> {};

// A file of 300 counting bytes; the region is bytes 100..299 (200 bytes).
TEST_P(RegionReaderTest, RegionBytesInsideZerosOutside) {
    TempDir dir;
    std::vector<unsigned char> file(300);
    std::iota(file.begin(), file.end(), 0);
    testing_support::WriteFileBytes(dir / "file", file);
    report::RegionReader reader((dir / "file").string(), 100, 200);
    ASSERT_TRUE(reader.IsOpen());

    const Request request = GetParam();
    std::vector<std::uint8_t> out(request.size, 0xEE);
    ASSERT_TRUE(reader.Read(request.position, out));
    for (std::size_t i = 0; i < out.size(); ++i) {
        const std::int64_t at = request.position + static_cast<std::int64_t>(i);
        const std::uint8_t want = at >= 0 && at < 200 ? file[100 + at] : 0;
        ASSERT_EQ(out[i], want) << "byte " << i << " (region position " << at << ")";
    }
}

INSTANTIATE_TEST_SUITE_P(Requests, RegionReaderTest,
                         testing::Values(Request{0, 200}, Request{10, 20}, Request{-50, 100},
                                         Request{150, 100}, Request{-10, 400}, Request{-500, 100},
                                         Request{-100, 100}, Request{200, 50}, Request{1000, 64},
                                         Request{199, 1}, Request{-1, 1}, Request{5, 0}));

}  // namespace
