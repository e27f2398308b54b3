// `<drive>.study.json`: what a study found and did, pass by pass. Its fields are read by
// c2report's study verdict; they keep their names.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace extract {

struct StudyPass {
    std::string form;                                // readcd14, d8, density, readcd12
    std::optional<std::string> speedRequested;       // "8x", "max"; none without --speeds
    bool speedSet = false;                           // the drive took SET CD SPEED
    std::optional<std::uint32_t> speedReportedKBps;  // the capabilities page's current read speed
    std::string wav;
    std::string c2;
    std::int32_t sectors = 0;        // whole sectors in both files
    std::int32_t failedSectors = 0;  // stored as zeros
    double seconds = 0.0;
    // Audio bytes read over the time spent in read commands, in kB/s (1,000 bytes): what the
    // drive did, which its reported speed need not say. None when no time was measured.
    std::optional<double> measuredKBps;
    std::int32_t slowReads = 0;  // chunks whose reads took more than 4 s
    double slowestSeconds = 0.0;
    std::int32_t slowestSector = 0;  // the first sector of the slowest
    bool completed = false;
    std::optional<std::string> error;
};

struct StudyRecord {
    std::string vendor;  // INQUIRY bytes 8-15, 16-31, 32-35, trailing blanks removed
    std::string product;
    std::string revision;
    std::optional<std::string> vendorSpecific;  // INQUIRY bytes 36-55 when printable ASCII
    std::optional<std::string> unit;    // SHA-256 hex of "marrowby-unit:" and the unit serial
    std::string transport = "unknown";  // usb, ata, scsi or unknown
    std::vector<std::string> formsFound;
    std::vector<StudyPass> passes;  // in reading order
};

// The record as JSON text.
[[nodiscard]] std::string StudyJson(const StudyRecord& record);

// Writes the record to `path` under a temporary name, then renames it, so the file is always
// whole; false when it could not be written.
[[nodiscard]] bool WriteStudyFile(const StudyRecord& record, const std::string& path);

}  // namespace extract
