// The heap of both programs: guarded blocks, size-checked release.
#pragma once

#include <cstddef>

namespace runtime {

// Requests of this many bytes or more always fail.
inline constexpr std::size_t allocateLimit = 1'073'741'797;

// Null when the heap cannot provide the block; never throws.
[[nodiscard]] std::byte* Allocate(std::size_t size);
// Releases a block from Allocate and nulls the pointer. Null, a wrong size or a damaged guard
// is a programming error and ends the program with the runtime error report.
void Deallocate(std::byte*& block, std::size_t size);

}  // namespace runtime
