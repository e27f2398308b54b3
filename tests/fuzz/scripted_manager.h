// What the harnesses share: a failed internal check that aborts, and a manager library whose
// answers are the fuzzer's bytes.
#pragma once

#include <cstdint>
#include <span>

namespace fuzzing {

// Ends the runtime error report in abort(), so that libFuzzer keeps the input and the stack
// instead of seeing an ordinary exit. Once, before the first input.
void AbortOnRuntimeError();

// Creates the drive layer's command state and makes the scripted manager its command path.
// Once, before the first input; also calls AbortOnRuntimeError.
void StartScriptedManager();

// The answers to the commands that follow, one after the other. Each answer is
//   byte 0      the request's status; 0 reads as "completed", so zeros make a willing drive
//   byte 1      target status (execute), targets per adapter (adapter inquiry), device type
//               (get device type), adapter count (support information)
//   byte 2      host adapter status
//   bytes 3-5   sense key, ASC and ASCQ, stored as fixed-format sense data
//   bytes 6-7   how many bytes the drive delivers, little-endian; cut to the command's buffer
//               and to the input that is left
//   then        the delivered bytes (data-in commands only)
// Missing bytes read as zero. Once the input is used up, every request fails.
void SetScript(std::span<const std::uint8_t> input);

// One byte of the script for the harness itself (a setting of the run); 0 when used up.
[[nodiscard]] std::uint8_t TakeScriptByte();

}  // namespace fuzzing
