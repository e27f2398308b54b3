// Serves the commands of a TCMU ring with one simulated drive: reads each command entry,
// runs it through `Drive::Execute`, and writes status, sense and the delivered length back.
// Knows nothing of the OS: the caller maps the area and rings the doorbell.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "simdrive/drive.h"

namespace simdrive::tcmu {

// The data direction of a command: TCMU does not pass it on, so it follows from the opcode.
[[nodiscard]] Direction DirectionOf(std::uint8_t opcode, std::size_t dataBytes);

class RingServer {
public:
    // `area` is the whole mapped region: mailbox, command ring and data area.
    RingServer(std::span<std::uint8_t> area, Drive& drive);

    // Completes every command between the ring's tail and head; returns how many entries it
    // retired (the caller then tells the kernel).
    std::size_t ServePending();

private:
    void ServeCommand(std::size_t entryOffset);

    std::span<std::uint8_t> area_;
    Drive& drive_;
    std::vector<std::uint8_t> data_;  // one command's data, contiguous
};

}  // namespace simdrive::tcmu
