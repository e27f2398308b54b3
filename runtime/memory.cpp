#include "runtime/memory.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "runtime/error.h"

namespace runtime {
namespace {

// Every block carries its size and a guard word before the caller's bytes and a guard word
// after them, so a release can tell a wrong size or an overwritten edge.
constexpr std::uint64_t frontGuard = 0x4D61'7272'6F77'4279;  // "MarrowBy"
constexpr std::uint64_t tailGuard = 0x5461'696C'4775'6172;   // "TailGuar"
constexpr std::size_t headerSize = 16;  // size, then front guard; keeps 16-byte alignment
constexpr std::size_t trailerSize = sizeof(tailGuard);

std::uint64_t Load(const std::byte* at) {
    std::uint64_t value = 0;
    std::memcpy(&value, at, sizeof value);
    return value;
}

void Store(std::byte* at, std::uint64_t value) {
    std::memcpy(at, &value, sizeof value);
}

}  // namespace

std::byte* Allocate(std::size_t size) {
    if (size >= allocateLimit) {
        return nullptr;
    }
    auto* raw = static_cast<std::byte*>(std::malloc(headerSize + size + trailerSize));
    if (raw == nullptr) {
        return nullptr;
    }
    Store(raw, size);
    Store(raw + 8, frontGuard);
    Store(raw + headerSize + size, tailGuard);
    return raw + headerSize;
}

void Deallocate(std::byte*& block, std::size_t size) {
    if (block == nullptr) {
        RuntimeError("NIL-DEALLOCATE");
    }
    std::byte* raw = block - headerSize;
    if (Load(raw + 8) != frontGuard) {
        RuntimeError("MEMORY-OVERWRITE-FRONT");
    }
    if (Load(raw) != size) {
        RuntimeError("WRONG-UNALLOCATE-SIZE");
    }
    if (Load(block + size) != tailGuard) {
        RuntimeError("MEMORY-OVERWRITE-TAIL");
    }
    std::free(raw);
    block = nullptr;
}

}  // namespace runtime
