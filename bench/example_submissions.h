// Generated submissions, valid and deterministic, for the pool's tests, its benchmark and the
// demo. Their drives are named by vendor "EXAMPLE" unless told otherwise, so that nobody takes
// them for measurements. The evidence is omitted, which keeps each file a few kilobytes.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "report/submission/submission.h"

namespace bench {

// The figures of one pass, from which the rest follows: best.missed, the flagged counts, the
// as-delivered alignment and the bytes compared.
struct ExamplePassCounts {
    std::string form = "readcd14";
    std::optional<std::string> speed = "8x";  // none: the drive's own speed ("default")
    std::int64_t sectors = 20'000;
    std::int64_t zeroFilled = 0;
    std::uint64_t wrong = 0;
    std::uint64_t detected = 0;         // at the best alignment, at most `wrong`
    std::uint64_t falseFlags = 0;       // at the best alignment
    std::int32_t lagBits = 0;           // best.shiftPointerBits
    std::uint64_t literalDetected = 0;  // as delivered, at most `detected`
    // Where the false flags sit: these two, and the rest in sectors without errors.
    std::uint64_t otherByteOfWrongSample = 0;
    std::uint64_t elsewhereInSectorWithErrors = 0;
    std::uint64_t wholeSectorsFlagged = 0;
    std::optional<double> measuredKBps = 1411.2;
};

struct ExampleDrive {
    std::string vendor = "EXAMPLE";
    std::string product = "DRIVE";
    std::string revision = "1.00";
    std::optional<std::string> unit;  // a text, hashed into drive.unit
};

// A pass whose hashes are made from `seed`: the same seed, the same pass.
[[nodiscard]] report::SubmissionPass ExamplePass(std::string_view seed,
                                                 const ExamplePassCounts& counts);

// A submission of `drive` without passes, judged against the genuine reference.
[[nodiscard]] report::Submission ExampleSubmission(const ExampleDrive& drive);

struct ExampleOptions {
    std::uint64_t seed = 1;
    int passes = 8;
    std::string vendor = "EXAMPLE";
};

// The `index`th submission of a generated set: several products and revisions, every form,
// several speeds, counts that add up and distinct passes.
[[nodiscard]] report::Submission GeneratedSubmission(std::uint64_t index,
                                                     const ExampleOptions& options);

// Writes `count` generated submissions into `folder` (created when missing) as
// "example-000001.json"...; false, with the sentence in `error`, when a file cannot be written.
[[nodiscard]] bool WriteExamples(const std::string& folder, std::uint64_t count,
                                 const ExampleOptions& options, std::string& error);

}  // namespace bench
