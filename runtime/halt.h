// Program end: the termination chain and the exit.
#pragma once

#include <cstdint>

namespace runtime {

using TerminationProc = void (*)();

// Makes `procedure` current and returns the one that was current before. A termination
// procedure reinstalls its predecessor first, then releases its own resources.
TerminationProc InstallTermination(TerminationProc procedure);

// Runs the chain: takes the current procedure, clears it, calls it; until none is current.
void RunTerminationChain();

// Runs the chain, flushes the console and ends the process with `exitCode`.
[[noreturn]] void Halt(std::int32_t exitCode);

}  // namespace runtime
