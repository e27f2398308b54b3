// The SHA-256 of a whole file, taken from the reads the comparison makes anyway: bytes seen in
// rising order are hashed as they pass, and whatever the comparison skipped (the header, audio
// outside the compared range) is read to fill the gaps.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>

#include "runtime/sha256.h"
#include "report/input/input_file.h"

namespace report {

class FileDigest {
public:
    explicit FileDigest(const std::string& path);

    // `bytes` were read from `fileOffset` of the file.
    void Saw(std::uint64_t fileOffset, std::span<const std::uint8_t> bytes);
    // The digest of the whole file; empty when a read or the hash failed.
    [[nodiscard]] std::string Finish();

private:
    bool HashFromFile(std::uint64_t end);

    std::string openError_;
    std::unique_ptr<std::FILE, FileCloser> file_;
    runtime::Sha256 sha_;
    std::uint64_t hashed_ = 0;  // every byte before this offset is in the hash
    bool ok_;
};

}  // namespace report
