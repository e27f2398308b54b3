// Runs CDBs against a simulated drive and keeps the reply, the sense bytes and the result.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "simdrive/bytes.h"
#include "simdrive/drive.h"

namespace simdrive::testkit {

struct Reply {
    CommandResult result;
    std::vector<uint8_t> data;
    std::vector<uint8_t> sense = std::vector<uint8_t>(18, 0);

    [[nodiscard]] bool Good() const {
        return result.status == status::good && result.host == HostStatus::ok;
    }
    [[nodiscard]] SenseCode Sense() const { return SenseCode{sense[2], sense[12], sense[13]}; }
    [[nodiscard]] bool Failed(SenseCode code) const {
        return result.status == status::checkCondition && (sense[0] & 0x7F) == 0x70 &&
               Sense() == code;
    }
};

inline Reply Send(Drive& drive, std::vector<uint8_t> cdb, Direction direction, size_t dataBytes) {
    Reply reply;
    reply.data.assign(dataBytes, 0xEE);
    reply.result = drive.Execute(cdb, direction, reply.data, reply.sense);
    return reply;
}

inline Reply SendOut(Drive& drive, std::vector<uint8_t> cdb, std::vector<uint8_t> parameters) {
    Reply reply;
    reply.data = std::move(parameters);
    reply.result = drive.Execute(cdb, Direction::out, reply.data, reply.sense);
    return reply;
}

inline std::vector<uint8_t> Cdb12(uint8_t code, uint8_t byte1, uint32_t lba, uint32_t count,
                                  uint8_t byte9, uint8_t byte10) {
    std::vector<uint8_t> cdb(12, 0);
    cdb[0] = code;
    cdb[1] = byte1;
    PutBe32(cdb, 2, lba);
    cdb[9] = byte9;
    cdb[10] = byte10;
    if (code == 0xBE) {
        PutBe24(cdb, 6, count);
    } else {
        PutBe32(cdb, 6, count);
    }
    return cdb;
}

inline std::vector<uint8_t> ReadCd(uint32_t lba, uint32_t count, uint8_t byte9) {
    return Cdb12(0xBE, 0x04, lba, count, byte9, 0);
}

inline std::vector<uint8_t> ReadD8(uint32_t lba, uint32_t count, uint8_t byte10) {
    std::vector<uint8_t> cdb = Cdb12(0xD8, 0, lba, count, 0, byte10);
    PutBe32(cdb, 6, count);
    cdb[10] = byte10;
    return cdb;
}

inline std::vector<uint8_t> Read10(uint32_t lba, uint16_t count) {
    std::vector<uint8_t> cdb(10, 0);
    cdb[0] = 0x28;
    PutBe32(cdb, 2, lba);
    PutBe16(cdb, 7, count);
    return cdb;
}

inline Reply SelectBlock(Drive& drive, uint8_t density, uint32_t blockLength) {
    std::vector<uint8_t> list{0, 0, 0, 8, density, 0, 0, 0, 0, 0, 0, 0};
    PutBe24(list, 9, blockLength);
    return SendOut(drive, {0x15, 0x10, 0, 0, 12, 0}, list);
}

inline bool BitSet(std::span<const uint8_t> bits, size_t index) {
    return (bits[index / 8] & (0x80u >> (index % 8))) != 0;
}

}  // namespace simdrive::testkit
