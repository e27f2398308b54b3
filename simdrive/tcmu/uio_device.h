// The UIO device through which the kernel's userspace target hands a backstore's commands to
// its handler: the mapped ring and the event counter that works as a doorbell both ways.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace simdrive::tcmu {

class UioDevice {
public:
    // Finds the UIO device of the backstore `name` (core/user_N/<name>) and maps its area.
    // On failure returns null and says why in `error`.
    [[nodiscard]] static std::unique_ptr<UioDevice> Open(const std::string& name,
                                                         std::string& error);
    ~UioDevice();
    UioDevice(const UioDevice&) = delete;
    UioDevice& operator=(const UioDevice&) = delete;

    [[nodiscard]] std::span<std::uint8_t> Area() const { return {area_, size_}; }
    [[nodiscard]] const std::string& Path() const { return path_; }
    // Blocks until the kernel has queued commands; false when the device went away.
    [[nodiscard]] bool WaitForCommands();
    // Tells the kernel that entries were completed.
    [[nodiscard]] bool Notify();

private:
    UioDevice(int descriptor, std::uint8_t* area, std::size_t size, std::string path);

    int descriptor_;
    std::uint8_t* area_;
    std::size_t size_;
    std::string path_;
};

}  // namespace simdrive::tcmu
