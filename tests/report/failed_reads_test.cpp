// A drive whose pointers lag 295 bytes and whose disc has failed reads: the lag must be found
// though the drive's own flags for each failed read land, at that lag, in the zero-filled sector
// the verdict leaves out. Made by hand from the reference's bytes, so the truth is the case's.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "simdrive/audio_source.h"
#include "tests/report/synthetic_pass.h"
#include "tests/support/program_run.h"
#include "tests/support/temp_dir.h"

namespace {

using report_test::kPointerBytes;
using report_test::SyntheticPass;

// 1,000 wrong bytes, all flagged, pointers 1 sector + 1 byte late; 9 failed reads, each
// followed by a sector whose late pointers flag it whole. 20 wrong bytes sit just before the
// first failed read, so their late flags fall into its zero-filled pointers: missed.
SyntheticPass FailedReadsCase(std::int64_t sectors) {
    SyntheticPass pass;
    pass.lagBytes = kPointerBytes + 1;
    const std::int64_t base = sectors / 3;
    for (std::int64_t i = 0; i < 98; ++i) {
        for (std::int32_t j = 0; j < 10; ++j) {
            pass.wrong.emplace_back(base + 2 * i, 100 * j + static_cast<std::int32_t>(i % 7));
        }
    }
    for (std::int64_t k = 0; k < 9; ++k) {
        const std::int64_t failed = base + 300 + 20 * k;
        pass.zeroFilled.push_back(failed);
        // The failed sector flagged whole, late: the next sector's pointers and one byte more.
        pass.setPointerBytes.emplace_back((failed + 1) * kPointerBytes, kPointerBytes + 1);
    }
    for (std::int32_t b = 0; b < 20; ++b) {
        pass.wrong.emplace_back(pass.zeroFilled.front() - 1, b);
    }
    pass.flagged = pass.wrong;
    return pass;
}

void ExpectTheLagFoundAroundFailedReads(const std::filesystem::path& folder, std::int64_t sectors) {
    report_test::WriteSyntheticPass(folder / "Reference.wav", folder / "Drive.wav",
                                    folder / "Drive.c2", FailedReadsCase(sectors));
    testing_support::RunOptions options;
    options.workingDirectory = folder;
    const auto run =
        testing_support::RunProgram(testing_support::BuiltProgram("c2report"),
                                    {"Reference.wav", "Drive.wav", "Drive.c2"}, options);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("Sectors with errors: 108, of which 9 zero-filled"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("  as delivered:      detection 0.00 %, false flags 100.00 % of "
                           "22,220 flags\n"
                           "  best:              1 sector + 1 byte late: detection 98.00 %, "
                           "false flags 6.84 % of 1,052 flags\n"),
              std::string::npos)
        << run.out;
    const auto verdict =
        nlohmann::json::parse(testing_support::ReadFileText(folder / "Drive.report.json"));
    const auto& best = verdict["c2"]["best"];
    EXPECT_EQ(best["shift"]["pointerBits"], 295 * 8);
    EXPECT_EQ(best["bytes"]["wrong"], 1000);
    EXPECT_EQ(best["bytes"]["detected"], 980);
    EXPECT_EQ(best["bytes"]["missed"], 20);
    EXPECT_EQ(best["bytes"]["falseFlags"], 72);
    EXPECT_EQ(verdict["c2"]["literal"]["bytes"]["detected"], 0);
    EXPECT_EQ(verdict["c2"]["literal"]["bytes"]["falseFlags"], 22'220);
}

TEST(FailedReads, TheLagIsFoundThoughItsFlagsForFailedReadsFallIntoThem) {
    testing_support::TempDir dir;
    constexpr std::int64_t kSectors = 2000;
    simdrive::PatternSource source(kSectors, 5);
    std::string error;
    ASSERT_TRUE(simdrive::WriteWavFile((dir / "Reference.wav").string(), source, error)) << error;
    ExpectTheLagFoundAroundFailedReads(dir.Path(), kSectors);
}

// The same case as a new user tries it: against the genuine image Tamblin writes.
TEST(FailedReads, TheSameAgainstTheGenuineReference) {
#if defined(_WIN32) || defined(REPORT_TESTS_SANITIZED)
    GTEST_SKIP() << "writes and compares two 783 MB images: release builds on Linux only";
#else
    testing_support::TempDir dir;
    ASSERT_TRUE(report_test::WriteGenuineReference(dir.Path()));
    ExpectTheLagFoundAroundFailedReads(dir.Path(), 333'000);
    const auto verdict =
        nlohmann::json::parse(testing_support::ReadFileText(dir / "Drive.report.json"));
    EXPECT_EQ(verdict["inputs"]["reference"]["genuine"], true);
#endif
}

}  // namespace
