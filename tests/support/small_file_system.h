// A small tmpfs mounted for one test, so that a disk fills up where the test wants it to
// (Linux, as root with the right to mount; a test skips when it cannot be mounted).
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace testing_support {

class SmallFileSystem {
public:
    // Mounts a tmpfs of `size` ("384k") on `folder`, created when missing.
    SmallFileSystem(const std::filesystem::path& folder, const std::string& size)
        : folder_(folder.string()) {
        std::filesystem::create_directories(folder);
        mounted_ = Run("mount -t tmpfs -o size=" + size + " marrowby-small " + folder_);
    }
    ~SmallFileSystem() {
        if (mounted_ && !Run("umount -l " + folder_)) {
            std::fprintf(stderr, "could not unmount the small file system %s\n", folder_.c_str());
        }
    }
    SmallFileSystem(const SmallFileSystem&) = delete;
    SmallFileSystem& operator=(const SmallFileSystem&) = delete;

    [[nodiscard]] bool Mounted() const { return mounted_; }
    // Gives it room again (or less): true when it was resized.
    [[nodiscard]] bool Resize(const std::string& size) {
        return Run("mount -o remount,size=" + size + " " + folder_);
    }

private:
    static bool Run(const std::string& command) {
        return std::system((command + " 2>/dev/null").c_str()) == 0;
    }
    std::string folder_;
    bool mounted_ = false;
};

}  // namespace testing_support
