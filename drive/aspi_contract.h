// The contract between Quellor and a SCSI manager library in its process.
//
// A manager library exports two C entry points (names below) and is loaded by its file name
// through the dynamic loader's normal search; one that lacks an entry point is not used.
//
//   std::uint32_t SupportInfo(void);        bits 8-15: status (1 = ready), bits 0-7: adapters
//   std::uint32_t Send(void* requestBlock); the block's status (the alternative manager
//                                           returns it minus 1)
//
// Host adapter inquiry (command 0) and get device type (command 1) complete before Send
// returns. An execute request (command 2) may complete before Send returns or later on a thread
// of the manager; either way the manager stores, in this order: the data at SRB_BufPointer, up
// to SRB_SenseLen bytes of fixed-format sense data in SenseArea, SRB_HaStat, SRB_TargStat, and
// last SRB_Status (non-zero), then signals the completion event named in SRB_PostProc when
// SRB_Flags has aspi::flagEventNotify.
//
// The completion event on Linux is an eventfd descriptor held in SRB_PostProc as a
// pointer-sized integer. The manager signals it by writing the 8-byte value 1 to it. It counts
// as signalled while its counter is non-zero; Quellor drains it before every send and consumes
// it when a wait is satisfied, and it does not rely on the event alone: it waits until
// SRB_Status is no longer 0.
//
// A request block carries no residual count. A manager tells a transfer that moved fewer (or
// more) bytes than SRB_BufLen by SRB_HaStat aspi::hostDataOverrunUnderrun; Quellor takes that
// as a failed read. A manager that completes a short transfer without saying so cannot be
// caught: the part of the buffer that never arrived then reads as zeros, since Quellor clears
// the buffer before every read.
//
// Request blocks are packed, little-endian. With 4-byte pointers they have the classic ASPI for
// Win32 layout; with 8-byte pointers SRB_BufPointer and SRB_PostProc widen to 8 bytes and every
// field after them moves up, packed, as 64-bit ASPI headers lay them out.
#pragma once

#include <cstddef>
#include <cstdint>

namespace aspi {

// Command codes (SRB_Cmd).
inline constexpr std::uint8_t commandHostAdapterInquiry = 0x00;
inline constexpr std::uint8_t commandGetDeviceType = 0x01;
inline constexpr std::uint8_t commandExecute = 0x02;

// SRB_Flags of an execute request.
inline constexpr std::uint8_t flagDataIn = 0x08;
inline constexpr std::uint8_t flagDataOut = 0x10;
inline constexpr std::uint8_t flagEventNotify = 0x40;

// SRB_Status values, also the results of Send.
inline constexpr std::uint8_t statusPending = 0x00;
inline constexpr std::uint8_t statusCompleted = 0x01;
inline constexpr std::uint8_t statusAborted = 0x02;
inline constexpr std::uint8_t statusCheckCondition = 0x04;  // sense data in SenseArea
inline constexpr std::uint8_t statusInvalidAdapter = 0x81;
inline constexpr std::uint8_t statusNoDevice = 0x82;
inline constexpr std::uint8_t statusInvalidRequest = 0xE0;
inline constexpr std::uint8_t statusFailedInit = 0xE4;
inline constexpr std::uint8_t statusBusy = 0xE5;

// SRB_HaStat: the transfer moved a different number of bytes than SRB_BufLen.
inline constexpr std::uint8_t hostDataOverrunUnderrun = 0x12;

inline constexpr std::uint8_t peripheralCdRom = 5;
inline constexpr std::uint8_t targetStatusCheckCondition = 0x02;
inline constexpr std::size_t senseAreaBytes = 257;

#pragma pack(push, 1)

struct SRB_ExecSCSICmd {
    std::uint8_t SRB_Cmd;
    std::uint8_t SRB_Status;
    std::uint8_t SRB_HaId;
    std::uint8_t SRB_Flags;
    std::uint32_t SRB_Hdr_Rsvd;
    std::uint8_t SRB_Target;
    std::uint8_t SRB_Lun;
    std::uint16_t SRB_Rsvd1;
    std::uint32_t SRB_BufLen;
    std::uint8_t* SRB_BufPointer;
    std::uint8_t SRB_SenseLen;
    std::uint8_t SRB_CDBLen;
    std::uint8_t SRB_HaStat;
    std::uint8_t SRB_TargStat;
    void* SRB_PostProc;  // the completion event
    std::uint8_t SRB_Rsvd2[20];
    std::uint8_t CDBByte[16];
    std::uint8_t SenseArea[senseAreaBytes];
};

struct SRB_HAInquiry {
    std::uint8_t SRB_Cmd;
    std::uint8_t SRB_Status;
    std::uint8_t SRB_HaId;
    std::uint8_t SRB_Flags;
    std::uint32_t SRB_Hdr_Rsvd;
    std::uint8_t HA_Count;
    std::uint8_t HA_SCSI_ID;
    std::uint8_t HA_ManagerId[16];
    std::uint8_t HA_Identifier[16];
    std::uint8_t HA_Unique[16];  // byte 3: targets per adapter; bytes 4-7: max transfer length
    std::uint16_t HA_Rsvd1;
};

struct SRB_GDEVBlock {
    std::uint8_t SRB_Cmd;
    std::uint8_t SRB_Status;
    std::uint8_t SRB_HaId;
    std::uint8_t SRB_Flags;
    std::uint32_t SRB_Hdr_Rsvd;
    std::uint8_t SRB_Target;
    std::uint8_t SRB_Lun;
    std::uint8_t SRB_DeviceType;
    std::uint8_t SRB_Rsvd1;
};

#pragma pack(pop)

// Every request block starts with this header.
struct SRB_Header {
    std::uint8_t SRB_Cmd;
    std::uint8_t SRB_Status;
    std::uint8_t SRB_HaId;
    std::uint8_t SRB_Flags;
    std::uint32_t SRB_Hdr_Rsvd;
};

namespace layout {
inline constexpr std::size_t pointerGrowth = sizeof(void*) - 4;
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Status) == 1);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_HaId) == 2);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Flags) == 3);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Hdr_Rsvd) == 4);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Target) == 8);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Lun) == 9);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Rsvd1) == 10);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_BufLen) == 12);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_BufPointer) == 16);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_SenseLen) == 20 + pointerGrowth);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_CDBLen) == 21 + pointerGrowth);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_HaStat) == 22 + pointerGrowth);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_TargStat) == 23 + pointerGrowth);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_PostProc) == 24 + pointerGrowth);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Rsvd2) == 28 + 2 * pointerGrowth);
static_assert(offsetof(SRB_ExecSCSICmd, CDBByte) == 48 + 2 * pointerGrowth);
static_assert(offsetof(SRB_ExecSCSICmd, SenseArea) == 64 + 2 * pointerGrowth);
static_assert(sizeof(SRB_ExecSCSICmd) == 321 + 2 * pointerGrowth);

static_assert(offsetof(SRB_HAInquiry, HA_Count) == 8);
static_assert(offsetof(SRB_HAInquiry, HA_SCSI_ID) == 9);
static_assert(offsetof(SRB_HAInquiry, HA_ManagerId) == 10);
static_assert(offsetof(SRB_HAInquiry, HA_Identifier) == 26);
static_assert(offsetof(SRB_HAInquiry, HA_Unique) == 42);
static_assert(offsetof(SRB_HAInquiry, HA_Rsvd1) == 58);
static_assert(sizeof(SRB_HAInquiry) == 60);

static_assert(offsetof(SRB_GDEVBlock, SRB_Target) == 8);
static_assert(offsetof(SRB_GDEVBlock, SRB_Lun) == 9);
static_assert(offsetof(SRB_GDEVBlock, SRB_DeviceType) == 10);
static_assert(offsetof(SRB_GDEVBlock, SRB_Rsvd1) == 11);
static_assert(sizeof(SRB_GDEVBlock) == 12);
static_assert(sizeof(SRB_Header) == 8);
}  // namespace layout

extern "C" {
using SupportInfoProc = std::uint32_t (*)();
using SendCommandProc = std::uint32_t (*)(void* requestBlock);
}

// A manager library: its file on each platform and its two entry points.
struct ManagerNames {
    const char* windowsFile;
    const char* linuxFile;
    const char* supportInfoEntry;
    const char* sendEntry;
};

inline constexpr ManagerNames aspiManager{"WNASPI32.DLL", "libwnaspi32.so", "GetASPI32SupportInfo",
                                          "SendASPI32Command"};
// Its Send returns the status minus 1.
inline constexpr ManagerNames alternativeManager{"ASAPI.DLL", "libasapi.so",
                                                 "GetASAPI32SupportInfo", "SendASAPI32Command"};

// The support word: status in bits 8-15, adapter count in bits 0-7.
[[nodiscard]] constexpr std::uint32_t SupportWord(std::uint8_t status, std::uint8_t adapters) {
    return (static_cast<std::uint32_t>(status) << 8) | adapters;
}
[[nodiscard]] constexpr std::uint8_t SupportStatus(std::uint32_t word) {
    return static_cast<std::uint8_t>((word >> 8) & 0xFF);
}
[[nodiscard]] constexpr std::uint8_t SupportAdapters(std::uint32_t word) {
    return static_cast<std::uint8_t>(word & 0xFF);
}

}  // namespace aspi
