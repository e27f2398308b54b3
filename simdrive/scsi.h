// The SCSI/MMC vocabulary the simulated drive speaks: operation codes, status bytes and the
// sense codes it answers with.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace simdrive {

constexpr uint32_t kAudioBytes = 2352;
constexpr uint32_t kC2Bytes = 294;
constexpr uint32_t kFramesPerSecond = 75;
constexpr uint32_t kSectorsBeforeProgramArea = 150;  // MSF 00:02:00 is LBA 0

namespace opcode {
constexpr uint8_t testUnitReady = 0x00;
constexpr uint8_t rezeroUnit = 0x01;
constexpr uint8_t inquiry = 0x12;
constexpr uint8_t modeSelect6 = 0x15;
constexpr uint8_t modeSense6 = 0x1A;
constexpr uint8_t readCapacity = 0x25;
constexpr uint8_t read10 = 0x28;
constexpr uint8_t readToc = 0x43;
constexpr uint8_t modeSense10 = 0x5A;
constexpr uint8_t setCdSpeed = 0xBB;
constexpr uint8_t readCd = 0xBE;
constexpr uint8_t vendorReadCdda = 0xD8;
}  // namespace opcode

namespace status {
constexpr uint8_t good = 0x00;
constexpr uint8_t checkCondition = 0x02;
}  // namespace status

struct SenseCode {
    uint8_t key = 0;
    uint8_t asc = 0;
    uint8_t ascq = 0;
    friend bool operator==(const SenseCode&, const SenseCode&) = default;
};

namespace sense {
constexpr SenseCode becomingReady{0x02, 0x04, 0x01};
constexpr SenseCode mediumNotPresent{0x02, 0x3A, 0x00};
constexpr SenseCode unrecoveredReadError{0x03, 0x11, 0x00};
constexpr SenseCode internalTargetFailure{0x04, 0x44, 0x00};
constexpr SenseCode parameterListLengthError{0x05, 0x1A, 0x00};
constexpr SenseCode invalidOperationCode{0x05, 0x20, 0x00};
constexpr SenseCode lbaOutOfRange{0x05, 0x21, 0x00};
constexpr SenseCode invalidFieldInCdb{0x05, 0x24, 0x00};
constexpr SenseCode invalidFieldInParameterList{0x05, 0x26, 0x00};
constexpr SenseCode savingNotSupported{0x05, 0x39, 0x00};
constexpr SenseCode illegalModeForTrack{0x05, 0x64, 0x00};
}  // namespace sense

constexpr uint32_t kFixedSenseLength = 18;

// Fixed-format sense data (response code 0x70); `information`, when given, fills bytes 3-6 and
// sets the valid bit, as drives do for the failing block of a read.
void WriteFixedSense(std::span<uint8_t> senseBuffer, SenseCode code, const uint32_t* information);

// READ CD of `count` CD-DA sectors from `lba`, with `byte9` choosing the fields (0x10 audio,
// 0x12 audio and C2 pointers, 0x14 also the block error byte): how tools and tests read a
// simulated disc without going through the programs.
[[nodiscard]] constexpr std::array<uint8_t, 12> ReadCdCommand(uint32_t lba, uint8_t count,
                                                              uint8_t byte9) {
    return {opcode::readCd,
            0x04,  // expected sector type: CD-DA
            static_cast<uint8_t>(lba >> 24),
            static_cast<uint8_t>(lba >> 16),
            static_cast<uint8_t>(lba >> 8),
            static_cast<uint8_t>(lba),
            0,
            0,
            count,
            byte9,
            0,
            0};
}

}  // namespace simdrive
