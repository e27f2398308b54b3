// Temporary files for tests that need a WAV image on disk.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "simdrive/audio_source.h"

namespace simdrive::testkit {

// A file path unique to this process and name, removed when the object goes.
class TempPath {
public:
    explicit TempPath(const std::string& name)
        : path_(::testing::TempDir() + "simdrive_" + std::to_string(::getpid()) + "_" + name) {}
    ~TempPath() { RemoveFile(path_); }
    TempPath(const TempPath&) = delete;
    TempPath& operator=(const TempPath&) = delete;
    [[nodiscard]] const std::string& Path() const { return path_; }

private:
    std::string path_;
};

inline void WritePatternWav(const std::string& path, uint64_t sectors, uint64_t seed) {
    PatternSource source(sectors, seed);
    std::string error;
    ASSERT_TRUE(WriteWavFile(path, source, error)) << error;
}

}  // namespace simdrive::testkit
