// The shared-memory ring of the kernel's userspace SCSI target (TCMU), as the kernel lays it
// out on x86-64. The kernel's own header does not compile as C++ (a zero-length array inside
// an anonymous struct inside a union), so the layout is restated here and pinned by the static
// asserts below. The outer entry is packed; its inner request and response structs are not,
// so they keep their natural alignment (the CDB offset sits at byte 24 of an entry, not 20).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace simdrive::tcmu {

static_assert(sizeof(void*) == 8, "the ring holds 64-bit iovecs; the handler is a 64-bit tool");

inline constexpr std::uint16_t kMailboxVersion = 2;
inline constexpr std::uint16_t kCapReadLength = 1u << 1;  // the kernel honours rsp.read_len

// Offset 0 of the mapped area.
struct Mailbox {
    std::uint16_t version;
    std::uint16_t flags;
    std::uint32_t ringOffset;        // cmdr_off: where the command ring starts
    std::uint32_t ringSize;          // cmdr_size
    std::uint32_t head;              // cmd_head, moved by the kernel
    alignas(64) std::uint32_t tail;  // cmd_tail, moved by the handler, on its own cache line
};
static_assert(offsetof(Mailbox, ringOffset) == 4);
static_assert(offsetof(Mailbox, head) == 12);
static_assert(offsetof(Mailbox, tail) == 64);

enum class EntryKind : std::uint32_t { pad = 0, command = 1, taskManagement = 2 };
inline constexpr std::uint32_t kKindMask = 0x7;  // length is 8-byte aligned: low bits are the kind

// Header of every ring entry.
struct EntryHeader {
    std::uint32_t lengthAndKind;
    std::uint16_t commandId;
    std::uint8_t kernelFlags;
    std::uint8_t userFlags;
};
static_assert(sizeof(EntryHeader) == 8);

inline constexpr std::uint8_t kUnknownOperation = 0x1;  // let the kernel emulate the command
inline constexpr std::uint8_t kReadLengthValid = 0x2;   // Response::readLength is meaningful

struct IoVector {
    std::uint64_t offset;  // from the start of the mapped area
    std::uint64_t length;
};
static_assert(sizeof(IoVector) == 16);

// Follows the header of a command entry; `IoVector`s follow it, then the CDB.
struct Request {
    std::uint32_t ioVectorCount;
    std::uint32_t bidiVectorCount;
    std::uint32_t integrityVectorCount;
    std::uint64_t cdbOffset;  // from the start of the mapped area
    std::uint64_t reserved1;
    std::uint64_t reserved2;
};
static_assert(offsetof(Request, cdbOffset) == 16);  // natural alignment, not packed
static_assert(sizeof(Request) == 40);

inline constexpr std::size_t kSenseBytes = 96;

// Overlays the request once the handler has read it.
struct Response {
    std::uint8_t scsiStatus;
    std::uint8_t reserved1;
    std::uint16_t reserved2;
    std::uint32_t readLength;
    std::array<std::uint8_t, kSenseBytes> sense;
};
static_assert(offsetof(Response, readLength) == 4);
static_assert(offsetof(Response, sense) == 8);

inline constexpr std::size_t kBodyOffset = sizeof(EntryHeader);
inline constexpr std::size_t kVectorsOffset = kBodyOffset + sizeof(Request);
static_assert(kBodyOffset + offsetof(Request, cdbOffset) == 24);
static_assert(kVectorsOffset == 48);
static_assert(kBodyOffset + sizeof(Response) == 112);

}  // namespace simdrive::tcmu
