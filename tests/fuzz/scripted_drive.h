// A drive whose answers are the fuzzer's bytes, reached through either command path. Linking
// it brings the harness's LLVMFuzzerInitialize: the drive layer's command state, both paths over
// the script, and a failed internal check that aborts.
#pragma once

#include <cstdint>
#include <span>

namespace fuzzing {

// The answers to the commands that follow. The first byte picks the path (even: the manager
// library, odd: the native pass-through); then one answer per command:
//   byte 0      manager: the request's status, 0 read as "completed" so that zeros make a
//               willing drive; native: unused
//   byte 1      target status (execute), targets per adapter (adapter inquiry), device type
//               (get device type), adapter count (support information)
//   byte 2      host adapter status; native: not 0 means the command never reached the drive
//   bytes 3-5   sense key, ASC and ASCQ, stored as fixed-format sense data
//   bytes 6-7   how many bytes the drive delivers, little-endian; cut to the command's buffer
//               and to the input that is left (the native path's residual is the rest)
//   then        the delivered bytes (data-in commands only)
// Missing bytes read as zero. Once the input is used up, every command fails.
void SetScript(std::span<const std::uint8_t> input);

// One byte of the script for the harness itself (a setting of the run); 0 when used up.
[[nodiscard]] std::uint8_t TakeScriptByte();

}  // namespace fuzzing
