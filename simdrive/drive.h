// The simulated MMC CD drive: takes a command descriptor block and answers as a drive does,
// with status GOOD or CHECK CONDITION and fixed-format sense data.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "simdrive/disc.h"
#include "simdrive/scsi.h"

namespace simdrive {

enum class Direction { none, in, out };

// Faults of the path to the drive rather than answers of the drive.
enum class HostStatus {
    ok,
    dataOverrun,        // the data buffer is smaller than the command's transfer
    directionMismatch,  // data direction does not fit the command; nothing was done
};

struct CommandResult {
    uint8_t status = status::good;
    uint32_t transferred = 0;
    HostStatus host = HostStatus::ok;
};

enum class FlagGranularity { byte, sample, sector };

// What the drive puts into the block error byte of READ CD 0x14.
enum class BlockErrorByte {
    flags,   // the OR of the pointers it delivers with the sector
    errors,  // 1 when the sector's audio holds a wrong byte, whatever the pointers say
    zero,
};

// How honestly the drive reports what it could not read.
struct C2Honesty {
    double flagWrong = 1.0;  // chance that a corrupted byte is flagged
    double flagGood = 0.0;   // chance that an intact byte of a damaged sector is flagged
    FlagGranularity granularity = FlagGranularity::byte;
    bool oneSectorLate = false;  // quirk: sector s carries the flags of sector s - 1
    // Quirk: the pointers arrive this many pointer bytes late (294 = one sector); the first
    // ones of the disc come as zeros. oneSectorLate stands for 294.
    uint32_t lagBytes = 0;
    [[nodiscard]] uint32_t Lag() const { return oneSectorLate ? kC2Bytes : lagBytes; }
    bool alwaysZero = false;  // pointers all zero whatever was read
    BlockErrorByte blockError = BlockErrorByte::flags;
};

// The four read commands that deliver C2 pointers, each of which a drive may answer with
// honesty of its own.
enum class C2Form : uint8_t { readCd14, vendorD8, density, readCd12 };
inline constexpr size_t kC2FormCount = 4;

// Rates that hold from a read speed on (up to the next entry's speed), for every form whose
// pointers are not always zero; an absent rate keeps the form's own.
struct SpeedHonesty {
    uint32_t fromKBps = 0;
    std::optional<double> flagWrong;
    std::optional<double> flagGood;
};

inline constexpr uint32_t kMaxReadSpeedKBps = 52 * 176;

// A real drive's manners, counted in commands (never in wall time) so that every run meets them
// alike. INQUIRY is exempt from all of them, as on real drives.
struct Manners {
    uint32_t spinUp = 0;           // the first commands after the disc goes in: 02/04/01
    uint8_t unitAttentionAsc = 0;  // 0x28 or 0x29: the first commands answer 06/ASC/00
    uint32_t unitAttentions = 1;   // how many of them do
    bool neverReady = false;       // 02/04/01 for ever
    std::optional<std::pair<int64_t, uint32_t>> pauseAt;  // the read reaching the sector, and
                                                          // the commands after it: 02/04/01
    std::optional<int64_t> unitAttentionAt;  // the read reaching the sector: 06/29/00, once
    std::vector<std::pair<int64_t, uint32_t>> slowAt;  // a read reaching the sector takes ms
};

struct DriveSettings {
    uint8_t adapter = 0;
    uint8_t target = 0;
    uint8_t lun = 0;
    uint8_t peripheralType = 5;
    bool removable = true;
    std::string vendor = "SIMDRIVE";  // padded with blanks to 8, 16 and 4 bytes
    std::string product = "CD-ROM";
    std::string revision = "1.00";
    std::optional<std::string> vendorSpecific;  // INQUIRY bytes 36-55; none: a 36-byte reply
    std::optional<std::string> serial;  // the Unit Serial Number page (0x80); none: no pages
    std::vector<uint8_t> readCdForms{0x10, 0x12, 0x14};  // READ CD byte 9; empty: no READ CD
    std::vector<uint8_t> vendorD8Forms;                  // 0xD8 byte 10; empty: no 0xD8
    bool densityAudio = true;  // MODE SELECT to block length 2,352 (READ(10) of audio)
    bool densityC2 = false;    // MODE SELECT to density 0x82, block length 2,646
    bool modeSense6 = true;
    bool c2PointerBit = true;  // capabilities page byte 5, bit 4
    bool fullTocInByte2 = true;
    bool fullTocInControlByte = true;
    bool fullTocBcd = false;
    int32_t readOffsetSamples = 0;
    C2Honesty honesty;  // every form's, unless it has its own
    std::array<std::optional<C2Honesty>, kC2FormCount> formHonesty;  // by C2Form
    std::vector<SpeedHonesty> speedHonesty;                          // rising speeds
    std::vector<uint32_t> readSpeeds{kMaxReadSpeedKBps};  // kB/s, rising; the last is the top
    bool setCdSpeed = true;                               // SET CD SPEED (0xBB) supported
    // Read commands (READ CD, 0xD8, READ(10)) numbered from 1 that answer NOT READY, medium not
    // present, as when the tray was opened during a read: first and count (0: none).
    std::pair<uint64_t, uint64_t> notReadyReads{0, 0};
    // Hostile answers for tests. A command with one of these operation codes that would move
    // more than the given bytes moves only those and still answers GOOD.
    std::vector<std::pair<uint8_t, uint32_t>> shortTransfers;
    std::optional<uint32_t> capacityLastLba;  // READ CAPACITY's last LBA instead of the disc's
    std::vector<uint8_t> tocReply;            // READ TOC format 0 reply as is; empty: the disc's
    Manners manners;
};

// What damage did to one delivered sector: bit i (MMC order, bit 7 of byte 0 for audio byte 0)
// of `corrupted` marks a wrong audio byte; `flagged` the C2 bits the drive raises for that
// sector's bytes (a drive with the late quirk delivers them with the next sector).
struct SectorTruth {
    std::array<uint8_t, kC2Bytes> corrupted{};
    std::array<uint8_t, kC2Bytes> flagged{};
    bool unreadable = false;
};

// The truth of one sector read with one form at one speed: `flagged` the bits that form raises
// for the sector's own bytes, `delivered` the 294 pointer bytes it sends with the sector (lag
// applied; zeros from a form whose pointers are always zero).
struct FormTruth : SectorTruth {
    std::array<uint8_t, kC2Bytes> delivered{};
};

class Drive {
public:
    explicit Drive(DriveSettings settings, std::unique_ptr<Disc> disc = nullptr);

    // Runs one command. `sense` receives fixed-format sense data on CHECK CONDITION.
    CommandResult Execute(std::span<const uint8_t> cdb, Direction direction,
                          std::span<uint8_t> data, std::span<uint8_t> sense);

    [[nodiscard]] const DriveSettings& Settings() const { return settings_; }
    // How a slow read spends its time: a real sleep unless a test's clock takes it instead.
    void SetDelay(std::function<void(std::chrono::milliseconds)> delay);
    [[nodiscard]] bool HasDisc() const;
    void InsertDisc(std::unique_ptr<Disc> disc);
    std::unique_ptr<Disc> EjectDisc();
    [[nodiscard]] int64_t LeadOut() const;

    // The truth behind a sector as this drive delivers it (offset applied).
    [[nodiscard]] SectorTruth Truth(int64_t sector) const;
    // The same for a C2 form read at `speedKBps` (a speed the drive runs at: see SelectSpeed).
    [[nodiscard]] FormTruth Truth(int64_t sector, C2Form form, uint32_t speedKBps) const;
    // The honesty of a form at a read speed: the form's own, with the rates of that speed.
    [[nodiscard]] C2Honesty HonestyOf(C2Form form, uint32_t speedKBps) const;
    // The speed SET CD SPEED with `requestedKBps` (0xFFFF: the top) makes the drive read at:
    // the fastest it has at or below the request, else its slowest.
    [[nodiscard]] uint32_t SelectSpeed(uint32_t requestedKBps) const;
    [[nodiscard]] uint32_t ReadSpeed() const;
    // The audio this drive would deliver for `sector` from an undamaged disc.
    [[nodiscard]] bool ReadCleanAudio(int64_t sector, std::span<uint8_t> audio);

private:
    // What one command handler decided; Execute turns it into status and sense.
    struct Outcome {
        uint32_t transferred = 0;
        bool failed = false;
        SenseCode sense{};
        bool hasInformation = false;
        uint32_t information = 0;
        HostStatus host = HostStatus::ok;
    };
    enum class BlockForm { data2048, audio, audioC2, c2Audio, audioC2BlockError };
    enum class SectorRead { ok, unreadable, ioError };

    Outcome Dispatch(std::span<const uint8_t> cdb, Direction direction, std::span<uint8_t> data);
    [[nodiscard]] std::optional<uint32_t> ShortTransferOf(std::span<const uint8_t> cdb) const;
    Outcome Inquiry(std::span<const uint8_t> cdb, std::span<uint8_t> data);
    Outcome VitalProductData(std::span<const uint8_t> cdb, std::span<uint8_t> data);
    Outcome ReadToc(std::span<const uint8_t> cdb, std::span<uint8_t> data);
    Outcome ReadCapacity(std::span<uint8_t> data);
    Outcome ModeSense(std::span<const uint8_t> cdb, std::span<uint8_t> data, bool tenByte);
    Outcome ModeSelect(std::span<const uint8_t> cdb, std::span<const uint8_t> data);
    Outcome ReadCd(std::span<const uint8_t> cdb, std::span<uint8_t> data);
    Outcome ReadVendorD8(std::span<const uint8_t> cdb, std::span<uint8_t> data);
    Outcome Read10(std::span<const uint8_t> cdb, std::span<uint8_t> data);
    Outcome SetCdSpeed(std::span<const uint8_t> cdb);
    // Sends the first `length` bytes of reply_, cut to the allocation length.
    Outcome SendReply(size_t length, size_t allocation, std::span<uint8_t> data) const;
    size_t BuildToc(bool msf, uint8_t startTrack);
    size_t PutTocReply();
    size_t BuildSessionInfo();
    size_t BuildFullToc();
    size_t PutCapabilitiesPage(size_t at, bool changeable);
    Outcome ReadBlocks(uint32_t lba, uint32_t count, BlockForm form, C2Form c2Form,
                       std::span<uint8_t> data);
    // The answer of a drive that is not ready for `code` (or reports a change), if it is not.
    [[nodiscard]] std::optional<SenseCode> Unready(uint8_t code);
    // The same for a read of lba..lba+count-1, whose start may pause the drive; slow areas
    // take their time here.
    [[nodiscard]] std::optional<SenseCode> UnreadyForRead(uint32_t lba, uint32_t count);
    [[nodiscard]] bool NextReadNotReady();

    [[nodiscard]] static uint32_t BlockBytes(BlockForm form);
    [[nodiscard]] int64_t DeliveredStart(int64_t sector) const;
    [[nodiscard]] bool SectorUnreadable(int64_t sector) const;
    SectorRead ReadSector(int64_t sector, const C2Honesty& honesty, std::span<uint8_t> audio,
                          std::span<uint8_t> c2);
    // Applies the disc's damage to the 2,352 bytes delivered from image position `start`:
    // XORs `audio`, sets flag bits in `flags` and truth bits in `corrupted` (each may be empty).
    void WalkDamage(int64_t start, const C2Honesty& honesty, std::span<uint8_t> audio,
                    std::span<uint8_t> flags, std::span<uint8_t> corrupted) const;
    // The flags `honesty` raises for sector's own bytes, whole sectors widened.
    void OwnFlags(int64_t sector, const C2Honesty& honesty, std::span<uint8_t> flags) const;
    // The pointers sent with `sector`: its own flags or, late, those of earlier bytes.
    void DeliveredPointers(int64_t sector, const C2Honesty& honesty,
                           std::span<uint8_t> pointers) const;
    [[nodiscard]] uint8_t BlockError(int64_t sector, const C2Honesty& honesty,
                                     std::span<const uint8_t> block) const;
    [[nodiscard]] FormTruth TruthWith(int64_t sector, const C2Honesty& honesty) const;

    DriveSettings settings_;
    std::unique_ptr<Disc> disc_;
    uint8_t density_ = 0x00;
    uint32_t blockLength_ = 2048;
    uint32_t readSpeed_ = 0;     // kB/s; set from the settings
    uint64_t readCommands_ = 0;  // read commands received so far
    uint32_t spinUpLeft_ = 0;
    uint32_t unitAttentionsLeft_ = 0;
    uint32_t pauseLeft_ = 0;
    bool paused_ = false;            // pause_at has happened
    bool unitAttentionMet_ = false;  // unit_attention_at has happened
    std::function<void(std::chrono::milliseconds)> delay_;
    std::array<uint8_t, 2048> reply_{};  // small replies are built here, then copied out
    mutable std::mutex mutex_;
};

}  // namespace simdrive
