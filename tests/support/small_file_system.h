// A small tmpfs for a test that fills a disk, unmounted when the test ends. Mounting needs root
// and mount rights; a test without them is skipped.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace testing_support {

class SmallFileSystem {
public:
    // Mounts a tmpfs of `size` ("384k") on `at`, a folder it creates.
    SmallFileSystem(const std::filesystem::path& at, const std::string& size) : at_(at) {
        std::filesystem::create_directory(at_);
        const std::string command =
            "mount -t tmpfs -o size=" + size + " marrowby-small " + at_.string() + " 2>/dev/null";
        mounted_ = std::system(command.c_str()) == 0;
    }
    ~SmallFileSystem() {
        const std::string command = "umount -l " + at_.string();
        if (mounted_ && std::system(command.c_str()) != 0) {
            std::fprintf(stderr, "could not unmount the small file system: %s\n", command.c_str());
        }
    }
    SmallFileSystem(const SmallFileSystem&) = delete;
    SmallFileSystem& operator=(const SmallFileSystem&) = delete;

    [[nodiscard]] bool Mounted() const { return mounted_; }
    // Gives it more room (or less); true when it was resized.
    [[nodiscard]] bool Resize(const std::string& size) {
        const std::string command =
            "mount -o remount,size=" + size + " " + at_.string() + " 2>/dev/null";
        return std::system(command.c_str()) == 0;
    }
    static constexpr const char* kWhyNot =
        "a small tmpfs cannot be mounted here (needs root and mount rights)";

private:
    std::filesystem::path at_;
    bool mounted_ = false;
};

}  // namespace testing_support
