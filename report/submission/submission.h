// `<drive>.submission.json`: a drive study made shareable. It names the drive by its exact
// INQUIRY strings and holds, per pass, the verdict's counts and the evidence to re-judge them;
// never a file name, a path, a host or user name, or a time of day. Written, read and checked
// here only: c2report writes and verifies it, the pool reads it from anyone.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace report {

inline constexpr const char* kSubmissionFormat = "Marrowby submission";
inline constexpr std::int64_t kSubmissionFormatVersion = 1;
inline constexpr std::uint64_t kMaxSubmissionBytes = 16u << 20;
inline constexpr std::size_t kMaxSubmissionPasses = 64;

// Byte counts of one alignment of the pointers.
struct SubmissionCounts {
    std::int32_t shiftPointerBits = 0;
    std::uint64_t wrong = 0;
    std::uint64_t flagged = 0;
    std::uint64_t detected = 0;
    std::uint64_t missed = 0;
    std::uint64_t falseFlags = 0;
    friend bool operator==(const SubmissionCounts&, const SubmissionCounts&) = default;
};

// Where the false flags of the best alignment sit, and how many sectors were flagged whole.
struct SubmissionGranularity {
    std::uint64_t otherByteOfWrongSample = 0;
    std::uint64_t elsewhereInSectorWithErrors = 0;
    std::uint64_t inSectorWithoutErrors = 0;
    std::uint64_t wholeSectorsFlagged = 0;
    friend bool operator==(const SubmissionGranularity&, const SubmissionGranularity&) = default;
};

// What a verdict says of a pass: the numbers --verify recomputes from the evidence.
struct SubmissionFigures {
    std::int64_t sectorsCompared = 0;
    std::uint64_t bytesCompared = 0;
    std::int64_t zeroFilledSectors = 0;
    std::int32_t offsetSamples = 0;
    SubmissionCounts best;
    SubmissionCounts asDelivered;
    SubmissionGranularity granularity;
    friend bool operator==(const SubmissionFigures&, const SubmissionFigures&) = default;
};

struct SubmissionPass {
    std::string form;                           // readcd14, d8, density, readcd12
    std::optional<std::string> speedRequested;  // "8x", "max"; none: the drive's own speed
    std::optional<std::int64_t> speedReportedKBps;
    bool completed = false;
    std::string wavSha256;
    std::string c2Sha256;
    SubmissionFigures figures;
    std::optional<double> measuredKBps;
    std::optional<std::string> evidence;  // base64 of the compressed evidence
    bool evidenceOmitted = false;         // the evidence would have made the file too large
};

struct SubmissionDrive {
    std::string vendor;  // INQUIRY bytes 8-15, 16-31, 32-35, trailing spaces removed
    std::string product;
    std::string revision;
    std::optional<std::string> vendorSpecific;  // INQUIRY bytes 36-55
    std::optional<std::string> unit;            // hash of the unit serial number
    std::string transport = "unknown";          // usb, ata, scsi, unknown
};

struct SubmissionReference {
    std::string sha256;
    std::uint64_t bytes = 0;
    bool genuine = false;
};

struct Submission {
    std::string toolVersion;
    std::string platform;  // linux, windows
    SubmissionDrive drive;
    SubmissionReference reference;
    std::vector<SubmissionPass> passes;
    std::string month;  // "2026-12"
};

// The platform this c2report was built for, as a submission names it.
[[nodiscard]] const char* SubmissionPlatform();

// The submission as JSON text. Passes keep their evidence in pass order while the text stays
// under kMaxSubmissionBytes; a pass whose evidence would pass it is written without
// (`evidence` null, `evidenceOmitted` true). `submission` is updated to say which.
[[nodiscard]] std::string SubmissionText(Submission& submission);

// A submission from `text` (the bytes of the file at `path`, which only names it in messages):
// every field typed and ranged, the counts consistent, the evidence decodable. Nothing, with
// the first rule broken in `error`, when it is not a usable submission.
[[nodiscard]] std::optional<Submission> ParseSubmission(const std::string& path,
                                                        std::string_view text, std::string& error);

// Reads the submission at `path` (a regular file of at most kMaxSubmissionBytes).
[[nodiscard]] std::optional<Submission> ReadSubmission(const std::string& path, std::string& error);

// The figures that differ, as "best.detected 812, re-judged 811; ..."; empty when all are equal.
[[nodiscard]] std::string Differences(const SubmissionFigures& submitted,
                                      const SubmissionFigures& rejudged);

}  // namespace report
