// The audio layer's commands as the drive layer runs them.
#pragma once

#include <cstdint>
#include <span>

#include "audio/commands.h"
#include "drive/aspi_proc.h"

namespace audio {

// A manager path does not say how many bytes a data-in command delivered, so callers clear the
// whole reply area first: what a short reply leaves out reads as zero, never as the bytes of an
// earlier command.
[[nodiscard]] inline drive::ScsiCommand DriveCommand(const CommandBlock& block,
                                                     drive::DataDirection direction,
                                                     std::uint32_t transferLength,
                                                     std::uint32_t clearDataBytes,
                                                     std::span<const std::uint8_t> dataOut = {}) {
    drive::ScsiCommand command;
    command.cdb = block.Bytes();
    command.direction = direction;
    command.transferLength = transferLength;
    command.dataOut = dataOut;
    command.clearDataBytes = clearDataBytes;
    return command;
}

// A data-in command whose whole reply area is cleared first.
[[nodiscard]] inline drive::ScsiCommand ReplyCommand(const CommandBlock& block,
                                                     std::uint32_t replyBytes) {
    return DriveCommand(block, drive::DataDirection::in, replyBytes, replyBytes);
}

// Runs a command whose reply, if any, is of no interest.
inline drive::CommandResult RunWithoutReply(const drive::DriveRecord& drive,
                                            const drive::ScsiCommand& command) {
    return drive::CommandCycle(drive, command,
                               [](const drive::CommandResult&, std::span<const std::uint8_t>) {});
}

}  // namespace audio
