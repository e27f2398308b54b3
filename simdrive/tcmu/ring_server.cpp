#include "simdrive/tcmu/ring_server.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>

#include "simdrive/bytes.h"
#include "simdrive/scsi.h"
#include "simdrive/tcmu/ring_layout.h"

namespace simdrive::tcmu {
namespace {

// The length the target core gives a CDB, by opcode group, as it copies it into the ring.
constexpr std::array<std::size_t, 8> kCdbLengthOfGroup{6, 10, 10, 12, 16, 12, 10, 10};

// Commands that carry data to the drive; every other command with data reads from it.
constexpr std::array<std::uint8_t, 8> kDataOutOpcodes{
    0x0A,  // WRITE(6)
    0x15,  // MODE SELECT(6)
    0x2A,  // WRITE(10)
    0x3B,  // WRITE BUFFER
    0x54,  // SEND OPC INFORMATION
    0x55,  // MODE SELECT(10)
    0x5D,  // SEND CUE SHEET
    0xAA,  // WRITE(12)
};

// What a host adapter reports when the data phase does not fit the command.
constexpr SenseCode kDataPhaseError{0x0B, 0x4B, 0x00};

constexpr std::uint32_t kD8AudioForm = 0x00;
constexpr std::uint32_t kD8AudioC2Form = 0x04;
constexpr std::size_t kD8FormByte = 10;

// The target core copies only 10 CDB bytes for opcodes 0xC0-0xDF, so byte 10 of the vendor
// read 0xD8 (its sub-code) never reaches the handler. A real drive gets the whole CDB; here
// the sub-code is recovered from the bytes per sector the initiator asked for.
std::uint8_t RecoveredD8Form(std::span<const std::uint8_t> cdb, std::size_t dataBytes) {
    const std::uint32_t sectors = GetBe32(cdb, 6);
    const bool withC2 =
        sectors != 0 && dataBytes == std::size_t{sectors} * (kAudioBytes + kC2Bytes);
    return static_cast<std::uint8_t>(withC2 ? kD8AudioC2Form : kD8AudioForm);
}

Mailbox& MailboxOf(std::span<std::uint8_t> area) {
    return *reinterpret_cast<Mailbox*>(area.data());
}

bool Inside(std::span<const std::uint8_t> area, std::uint64_t offset, std::uint64_t length) {
    return offset <= area.size() && length <= area.size() - offset;
}

}  // namespace

Direction DirectionOf(std::uint8_t opcode, std::size_t dataBytes) {
    if (dataBytes == 0) {
        return Direction::none;
    }
    const bool out =
        std::find(kDataOutOpcodes.begin(), kDataOutOpcodes.end(), opcode) != kDataOutOpcodes.end();
    return out ? Direction::out : Direction::in;
}

RingServer::RingServer(std::span<std::uint8_t> area, Drive& drive) : area_(area), drive_(drive) {}

std::size_t RingServer::ServePending() {
    Mailbox& mailbox = MailboxOf(area_);
    std::atomic_ref<std::uint32_t> head(mailbox.head);
    std::atomic_ref<std::uint32_t> tail(mailbox.tail);
    const std::uint32_t ringOffset = mailbox.ringOffset;
    const std::uint32_t ringSize = mailbox.ringSize;
    std::uint32_t at = tail.load(std::memory_order_acquire);
    const std::uint32_t end = head.load(std::memory_order_acquire);
    std::size_t retired = 0;
    while (at != end) {
        EntryHeader header{};
        std::memcpy(&header, area_.data() + ringOffset + at, sizeof header);
        const std::uint32_t length = header.lengthAndKind & ~kKindMask;
        if (length == 0) {
            break;  // a malformed ring: leave the rest to the kernel's time-out
        }
        if (static_cast<EntryKind>(header.lengthAndKind & kKindMask) == EntryKind::command) {
            ServeCommand(ringOffset + at);
        }
        at = (at + length) % ringSize;
        ++retired;
    }
    tail.store(at, std::memory_order_release);
    return retired;
}

void RingServer::ServeCommand(std::size_t entryOffset) {
    std::uint8_t* entry = area_.data() + entryOffset;
    Request request{};
    std::memcpy(&request, entry + kBodyOffset, sizeof request);
    std::vector<IoVector> vectors(request.ioVectorCount);
    std::memcpy(vectors.data(), entry + kVectorsOffset, vectors.size() * sizeof(IoVector));

    bool pathOk = Inside(area_, request.cdbOffset, 1);
    std::size_t dataBytes = 0;
    for (const IoVector& vector : vectors) {
        pathOk = pathOk && Inside(area_, vector.offset, vector.length);
        dataBytes += vector.length;
    }
    std::array<std::uint8_t, 16> cdb{};  // bytes past the copied length stay zero
    if (pathOk) {
        const std::size_t cdbBytes = kCdbLengthOfGroup[area_[request.cdbOffset] >> 5];
        if (Inside(area_, request.cdbOffset, cdbBytes)) {
            std::memcpy(cdb.data(), area_.data() + request.cdbOffset, cdbBytes);
        }
    }
    if (cdb[0] == opcode::vendorReadCdda) {
        cdb[kD8FormByte] = RecoveredD8Form(cdb, dataBytes);
    }
    const Direction direction = DirectionOf(cdb[0], dataBytes);

    data_.assign(dataBytes, 0);
    if (direction == Direction::out) {
        std::size_t at = 0;
        for (const IoVector& vector : vectors) {
            std::memcpy(data_.data() + at, area_.data() + vector.offset, vector.length);
            at += vector.length;
        }
    }

    Response response{};
    CommandResult result;
    if (pathOk) {
        result = drive_.Execute(cdb, direction, data_, response.sense);
    }
    const bool hostFault = !pathOk || (result.host != HostStatus::ok && result.transferred == 0);
    if (hostFault) {
        result = CommandResult{status::checkCondition, 0, HostStatus::ok};
        WriteFixedSense(response.sense, kDataPhaseError, nullptr);
    }
    response.scsiStatus = result.status;

    std::uint8_t userFlags = 0;
    if (direction == Direction::in) {
        std::size_t left = std::min<std::size_t>(result.transferred, dataBytes);
        std::size_t at = 0;
        for (const IoVector& vector : vectors) {
            const std::size_t part = std::min<std::size_t>(left, vector.length);
            std::memcpy(area_.data() + vector.offset, data_.data() + at, part);
            at += part;
            left -= part;
        }
        // Without the length the initiator would take a short or failed read for a whole one.
        if (result.transferred < dataBytes && (MailboxOf(area_).flags & kCapReadLength) != 0) {
            userFlags |= kReadLengthValid;
            response.readLength = result.transferred;
        }
    }
    std::memcpy(entry + kBodyOffset, &response, sizeof response);
    entry[offsetof(EntryHeader, userFlags)] = userFlags;
}

}  // namespace simdrive::tcmu
