#include "audio/commands.h"

#include "audio/bytes.h"

namespace audio {
namespace {

constexpr std::uint8_t opReadToc = 0x43;
constexpr std::uint8_t opReadCapacity = 0x25;
constexpr std::uint8_t opModeSense6 = 0x1A;
constexpr std::uint8_t opModeSense10 = 0x5A;
constexpr std::uint8_t opModeSelect6 = 0x15;
constexpr std::uint8_t opTestUnitReady = 0x00;
constexpr std::uint8_t opRezeroUnit = 0x01;
constexpr std::uint8_t opReadCd = 0xBE;
constexpr std::uint8_t opVendorReadCdda = 0xD8;
constexpr std::uint8_t opRead10 = 0x28;
constexpr std::uint8_t opSetCdSpeed = 0xBB;

constexpr std::uint8_t capabilitiesPage = 0x2A;
constexpr std::uint8_t disableBlockDescriptors = 0x08;
constexpr std::uint8_t readCdAudioSectorsOnly = 0x04;  // expected sector type CD-DA
constexpr std::uint8_t readCdUserDataC2 = 0x12;
constexpr std::uint8_t readCdUserDataC2BlockError = 0x14;
constexpr std::uint8_t vendorD8WithC2 = 0x04;

CommandBlock Block(std::uint8_t length, std::uint8_t operation) {
    CommandBlock block;
    block.length = length;
    block.bytes[0] = operation;
    return block;
}

// A mode parameter header with one block descriptor: density, 0 blocks, block length.
std::array<std::uint8_t, densityListBytes> DensityParameterList(std::uint8_t density,
                                                                std::uint32_t blockLength) {
    std::array<std::uint8_t, densityListBytes> list{};
    list[3] = 0x08;  // header: block descriptor length
    list[4] = density;
    list[9] = static_cast<std::uint8_t>(blockLength >> 16);
    list[10] = static_cast<std::uint8_t>(blockLength >> 8);
    list[11] = static_cast<std::uint8_t>(blockLength);
    return list;
}

}  // namespace

CommandBlock ReadTocCommand() {
    CommandBlock block = Block(10, opReadToc);
    block.bytes[1] = 0x00;  // LBA addresses
    block.bytes[2] = 0x00;  // format 0: track descriptors
    block.bytes[6] = 0x00;  // from the first track
    block.bytes[7] = tocReplyBytes >> 8;
    block.bytes[8] = tocReplyBytes & 0xFF;
    return block;
}

CommandBlock ReadFullTocCommand(FullTocForm form) {
    CommandBlock block = Block(10, opReadToc);
    block.bytes[7] = fullTocReplyBytes >> 8;
    block.bytes[8] = fullTocReplyBytes & 0xFF;
    if (form == FullTocForm::formatField) {
        block.bytes[2] = 0x02;
    } else {
        block.bytes[9] = 0x80;  // format 2 in the control byte's top bits
    }
    return block;
}

CommandBlock ReadCapacityCommand() {
    return Block(10, opReadCapacity);
}

CommandBlock CapabilitiesSense6Command() {
    CommandBlock block = Block(6, opModeSense6);
    block.bytes[1] = disableBlockDescriptors;
    block.bytes[2] = capabilitiesPage;
    block.bytes[4] = modeSense6ReplyBytes;
    return block;
}

CommandBlock CapabilitiesSense10Command() {
    CommandBlock block = Block(10, opModeSense10);
    block.bytes[1] = disableBlockDescriptors;
    block.bytes[2] = capabilitiesPage;
    block.bytes[7] = 0x00;
    block.bytes[8] = modeSense10ReplyBytes;
    return block;
}

CommandBlock DensitySelectCommand() {
    CommandBlock block = Block(6, opModeSelect6);
    block.bytes[1] = 0x00;  // page format bit clear
    block.bytes[4] = densityListBytes;
    return block;
}

std::array<std::uint8_t, densityListBytes> C2DensityParameterList() {
    return DensityParameterList(0x82, 2'646);  // audio with C2 pointers
}

std::array<std::uint8_t, densityListBytes> DataDensityParameterList() {
    return DensityParameterList(0x00, 2'048);
}

CommandBlock TestUnitReadyCommand() {
    return Block(6, opTestUnitReady);
}

CommandBlock RezeroUnitCommand() {
    return Block(6, opRezeroUnit);
}

CommandBlock SetCdSpeedCommand(std::uint16_t readKBps) {
    CommandBlock block = Block(12, opSetCdSpeed);
    block.bytes[2] = static_cast<std::uint8_t>(readKBps >> 8);
    block.bytes[3] = static_cast<std::uint8_t>(readKBps);
    block.bytes[4] = 0xFF;  // write speed: the fastest
    block.bytes[5] = 0xFF;
    return block;
}

CommandBlock C2ReadCommand(std::int32_t method, std::int64_t sector, std::uint8_t count) {
    const auto lba = static_cast<std::uint64_t>(sector);
    if (method == c2VendorD8) {
        CommandBlock block = Block(12, opVendorReadCdda);
        PutBe32(block.bytes, 2, lba);
        block.bytes[9] = count;  // bytes 6..9: sector count
        block.bytes[10] = vendorD8WithC2;
        return block;
    }
    if (method == c2DensitySwitch) {
        CommandBlock block = Block(10, opRead10);
        PutBe32(block.bytes, 2, lba);
        block.bytes[8] = count;  // bytes 7..8: block count
        return block;
    }
    CommandBlock block = Block(12, opReadCd);
    block.bytes[1] = readCdAudioSectorsOnly;
    PutBe32(block.bytes, 2, lba);
    block.bytes[8] = count;  // bytes 6..8: sector count
    block.bytes[9] =
        method == c2ReadCdWithBlockError ? readCdUserDataC2BlockError : readCdUserDataC2;
    return block;
}

}  // namespace audio
