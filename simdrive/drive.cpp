#include "simdrive/drive.h"

#include <algorithm>
#include <thread>

#include "simdrive/bytes.h"
#include "simdrive/hash.h"

namespace simdrive {

namespace {

bool Contains(const std::vector<uint8_t>& forms, uint8_t form) {
    return std::find(forms.begin(), forms.end(), form) != forms.end();
}

int64_t FloorDiv(int64_t value, int64_t divisor) {
    const int64_t quotient = value / divisor;
    return (value % divisor != 0 && value < 0) ? quotient - 1 : quotient;
}

void SetBit(std::span<uint8_t> bits, size_t index) {
    bits[index / 8] |= static_cast<uint8_t>(0x80u >> (index % 8));
}

}  // namespace

void WriteFixedSense(std::span<uint8_t> senseBuffer, SenseCode code, const uint32_t* information) {
    std::array<uint8_t, kFixedSenseLength> bytes{};
    bytes[0] = information != nullptr ? 0xF0 : 0x70;
    bytes[2] = code.key;
    if (information != nullptr) {
        PutBe32(bytes, 3, *information);
    }
    bytes[7] = kFixedSenseLength - 8;
    bytes[12] = code.asc;
    bytes[13] = code.ascq;
    std::copy_n(bytes.begin(), std::min<size_t>(bytes.size(), senseBuffer.size()),
                senseBuffer.begin());
}

Drive::Drive(DriveSettings settings, std::unique_ptr<Disc> disc)
    : settings_(std::move(settings)),
      disc_(std::move(disc)),
      spinUpLeft_(settings_.manners.spinUp),
      unitAttentionsLeft_(settings_.manners.unitAttentionAsc != 0 ? settings_.manners.unitAttentions
                                                                  : 0),
      delay_([](std::chrono::milliseconds time) { std::this_thread::sleep_for(time); }) {
    if (settings_.readSpeeds.empty()) {
        settings_.readSpeeds.push_back(kMaxReadSpeedKBps);
    }
    std::sort(settings_.readSpeeds.begin(), settings_.readSpeeds.end());
    std::sort(settings_.speedHonesty.begin(), settings_.speedHonesty.end(),
              [](const SpeedHonesty& a, const SpeedHonesty& b) { return a.fromKBps < b.fromKBps; });
    readSpeed_ = settings_.readSpeeds.back();
}

bool Drive::HasDisc() const {
    std::lock_guard lock(mutex_);
    return disc_ != nullptr;
}

void Drive::InsertDisc(std::unique_ptr<Disc> disc) {
    std::lock_guard lock(mutex_);
    disc_ = std::move(disc);
    spinUpLeft_ = settings_.manners.spinUp;
}

void Drive::SetDelay(std::function<void(std::chrono::milliseconds)> delay) {
    std::lock_guard lock(mutex_);
    delay_ = std::move(delay);
}

std::optional<SenseCode> Drive::Unready(uint8_t code) {
    if (code == opcode::inquiry) {
        return std::nullopt;
    }
    if (unitAttentionsLeft_ > 0) {
        --unitAttentionsLeft_;
        return SenseCode{0x06, settings_.manners.unitAttentionAsc, 0x00};
    }
    if (settings_.manners.neverReady) {
        return sense::becomingReady;
    }
    for (uint32_t* left : {&spinUpLeft_, &pauseLeft_}) {
        if (*left > 0) {
            --*left;
            return sense::becomingReady;
        }
    }
    return std::nullopt;
}

std::optional<SenseCode> Drive::UnreadyForRead(uint32_t lba, uint32_t count) {
    const auto reaches = [&](int64_t sector) {
        return sector >= lba && sector < int64_t{lba} + count;
    };
    const Manners& manners = settings_.manners;
    if (manners.unitAttentionAt && !unitAttentionMet_ && reaches(*manners.unitAttentionAt)) {
        unitAttentionMet_ = true;
        return SenseCode{0x06, 0x29, 0x00};
    }
    if (manners.pauseAt && !paused_ && reaches(manners.pauseAt->first)) {
        paused_ = true;
        if (manners.pauseAt->second > 0) {
            pauseLeft_ = manners.pauseAt->second - 1;
            return sense::becomingReady;
        }
    }
    for (const auto& [sector, milliseconds] : manners.slowAt) {
        if (reaches(sector)) {
            delay_(std::chrono::milliseconds(milliseconds));
        }
    }
    return std::nullopt;
}

std::unique_ptr<Disc> Drive::EjectDisc() {
    std::lock_guard lock(mutex_);
    return std::move(disc_);
}

int64_t Drive::LeadOut() const {
    std::lock_guard lock(mutex_);
    return disc_ ? disc_->LeadOut() : 0;
}

CommandResult Drive::Execute(std::span<const uint8_t> cdb, Direction direction,
                             std::span<uint8_t> data, std::span<uint8_t> sense) {
    std::lock_guard lock(mutex_);
    const std::optional<uint32_t> cut = ShortTransferOf(cdb);
    // Bytes past the cut never reach the host: whatever the buffer held there stays.
    std::vector<uint8_t> kept;
    if (cut.has_value() && *cut < data.size()) {
        kept.assign(data.begin() + *cut, data.end());
    }
    Outcome outcome = Dispatch(cdb, direction, data);
    if (cut.has_value() && !outcome.failed && outcome.transferred > *cut) {
        outcome.transferred = *cut;
        std::copy(kept.begin(), kept.end(), data.begin() + *cut);
    }
    CommandResult result{status::good, outcome.transferred, outcome.host};
    if (outcome.failed) {
        result.status = status::checkCondition;
        WriteFixedSense(sense, outcome.sense,
                        outcome.hasInformation ? &outcome.information : nullptr);
    }
    return result;
}

std::optional<uint32_t> Drive::ShortTransferOf(std::span<const uint8_t> cdb) const {
    for (const auto& [code, bytes] : settings_.shortTransfers) {
        if (!cdb.empty() && cdb[0] == code) {
            return bytes;
        }
    }
    return std::nullopt;
}

Drive::Outcome Drive::Dispatch(std::span<const uint8_t> cdb, Direction direction,
                               std::span<uint8_t> data) {
    const auto fail = [](SenseCode code) { return Outcome{0, true, code}; };
    if (cdb.empty()) {
        return fail(sense::invalidOperationCode);
    }
    const uint8_t code = cdb[0];
    const size_t needed = code < 0x20 ? 6 : (code < 0x60 ? 10 : 12);
    if (cdb.size() < needed) {
        return fail(sense::invalidFieldInCdb);
    }
    const bool writes = code == opcode::modeSelect6;
    const bool carriesData = code != opcode::testUnitReady && code != opcode::rezeroUnit;
    const Direction expected = writes ? Direction::out : Direction::in;
    if (carriesData && !data.empty() && direction != expected) {
        return Outcome{0, false, {}, false, 0, HostStatus::directionMismatch};
    }
    const bool needsDisc = code != opcode::inquiry && code != opcode::modeSense6 &&
                           code != opcode::modeSense10 && code != opcode::modeSelect6 &&
                           code != opcode::setCdSpeed;
    const bool knownCode =
        code == opcode::testUnitReady || code == opcode::rezeroUnit || code == opcode::inquiry ||
        code == opcode::modeSelect6 || (code == opcode::modeSense6 && settings_.modeSense6) ||
        code == opcode::modeSense10 || code == opcode::readCapacity || code == opcode::read10 ||
        code == opcode::readToc || (code == opcode::readCd && !settings_.readCdForms.empty()) ||
        (code == opcode::vendorReadCdda && !settings_.vendorD8Forms.empty()) ||
        (code == opcode::setCdSpeed && settings_.setCdSpeed);
    if (!knownCode) {
        return fail(sense::invalidOperationCode);
    }
    if (const std::optional<SenseCode> unready = Unready(code)) {
        return fail(*unready);
    }
    if (needsDisc && !disc_) {
        return fail(sense::mediumNotPresent);
    }
    switch (code) {
        case opcode::inquiry:
            return Inquiry(cdb, data);
        case opcode::readToc:
            return ReadToc(cdb, data);
        case opcode::readCapacity:
            return ReadCapacity(data);
        case opcode::modeSense6:
            return ModeSense(cdb, data, false);
        case opcode::modeSense10:
            return ModeSense(cdb, data, true);
        case opcode::modeSelect6:
            return ModeSelect(cdb, data);
        case opcode::readCd:
            return ReadCd(cdb, data);
        case opcode::vendorReadCdda:
            return ReadVendorD8(cdb, data);
        case opcode::read10:
            return Read10(cdb, data);
        case opcode::setCdSpeed:
            return SetCdSpeed(cdb);
        default:
            return Outcome{};  // TEST UNIT READY, REZERO UNIT: ready with a disc
    }
}

Drive::Outcome Drive::ReadCd(std::span<const uint8_t> cdb, std::span<uint8_t> data) {
    const uint8_t expectedType = (cdb[1] >> 2) & 0x07;
    // Sync, header and EDC/ECC fields do not exist in CD-DA sectors; drives ignore them.
    const uint8_t fields = cdb[9] & 0x16;
    if (cdb[10] != 0 || expectedType > 5 ||
        (fields != 0 && !Contains(settings_.readCdForms, fields))) {
        return Outcome{0, true, sense::invalidFieldInCdb};
    }
    if (expectedType > 1) {
        return Outcome{0, true, sense::illegalModeForTrack};  // asks for data sectors
    }
    const uint32_t lba = GetBe32(cdb, 2);
    const uint32_t count = fields == 0 ? 0 : GetBe24(cdb, 6);
    const BlockForm form = fields == 0x10   ? BlockForm::audio
                           : fields == 0x12 ? BlockForm::audioC2
                                            : BlockForm::audioC2BlockError;
    return ReadBlocks(lba, count, form, fields == 0x12 ? C2Form::readCd12 : C2Form::readCd14, data);
}

Drive::Outcome Drive::ReadVendorD8(std::span<const uint8_t> cdb, std::span<uint8_t> data) {
    const uint8_t form = cdb[10];
    if ((form != 0x00 && form != 0x04) || !Contains(settings_.vendorD8Forms, form)) {
        return Outcome{0, true, sense::invalidFieldInCdb};
    }
    return ReadBlocks(GetBe32(cdb, 2), GetBe32(cdb, 6),
                      form == 0x00 ? BlockForm::audio : BlockForm::audioC2, C2Form::vendorD8, data);
}

Drive::Outcome Drive::Read10(std::span<const uint8_t> cdb, std::span<uint8_t> data) {
    const BlockForm form = blockLength_ == 2048          ? BlockForm::data2048
                           : blockLength_ == kAudioBytes ? BlockForm::audio
                                                         : BlockForm::c2Audio;
    return ReadBlocks(GetBe32(cdb, 2), GetBe16(cdb, 7), form, C2Form::density, data);
}

Drive::Outcome Drive::SetCdSpeed(std::span<const uint8_t> cdb) {
    readSpeed_ = SelectSpeed(GetBe16(cdb, 2));
    return Outcome{};
}

uint32_t Drive::SelectSpeed(uint32_t requestedKBps) const {
    const std::vector<uint32_t>& speeds = settings_.readSpeeds;
    const auto above = std::upper_bound(speeds.begin(), speeds.end(), requestedKBps);
    return above == speeds.begin() ? speeds.front() : *(above - 1);
}

uint32_t Drive::ReadSpeed() const {
    std::lock_guard lock(mutex_);
    return readSpeed_;
}

C2Honesty Drive::HonestyOf(C2Form form, uint32_t speedKBps) const {
    C2Honesty honesty =
        settings_.formHonesty[static_cast<size_t>(form)].value_or(settings_.honesty);
    for (const SpeedHonesty& entry : settings_.speedHonesty) {
        if (entry.fromKBps <= speedKBps) {
            honesty.flagWrong = entry.flagWrong.value_or(honesty.flagWrong);
            honesty.flagGood = entry.flagGood.value_or(honesty.flagGood);
        }
    }
    return honesty;
}

bool Drive::NextReadNotReady() {
    ++readCommands_;
    const auto [first, count] = settings_.notReadyReads;
    return readCommands_ >= first && readCommands_ - first < count;
}

Drive::Outcome Drive::ReadBlocks(uint32_t lba, uint32_t count, BlockForm form, C2Form c2Form,
                                 std::span<uint8_t> data) {
    if (NextReadNotReady()) {
        return Outcome{0, true, sense::mediumNotPresent};
    }
    if (const std::optional<SenseCode> unready = UnreadyForRead(lba, count)) {
        return Outcome{0, true, *unready};
    }
    const uint32_t block = BlockBytes(form);
    const C2Honesty honesty = HonestyOf(c2Form, readSpeed_);
    if (static_cast<int64_t>(lba) + count > disc_->LeadOut()) {
        return Outcome{0, true, sense::lbaOutOfRange};
    }
    if (uint64_t{count} * block > data.size()) {
        return Outcome{0, false, {}, false, 0, HostStatus::dataOverrun};
    }
    for (uint32_t i = 0; i < count; ++i) {
        const bool audio = disc_->IsAudioSector(int64_t{lba} + i);
        if (audio == (form == BlockForm::data2048)) {
            return Outcome{0, true, sense::illegalModeForTrack};
        }
    }
    for (uint32_t i = 0; i < count; ++i) {
        const int64_t sector = int64_t{lba} + i;
        const auto blockBytes = data.subspan(size_t{i} * block, block);
        SectorRead read = SectorRead::ok;
        switch (form) {
            case BlockForm::data2048:
                std::fill(blockBytes.begin(), blockBytes.end(), 0);
                break;
            case BlockForm::audio:
                read = ReadSector(sector, honesty, blockBytes, {});
                break;
            case BlockForm::c2Audio:
                read = ReadSector(sector, honesty, blockBytes.subspan(kC2Bytes),
                                  blockBytes.first(kC2Bytes));
                break;
            case BlockForm::audioC2:
            case BlockForm::audioC2BlockError:
                read = ReadSector(sector, honesty, blockBytes.first(kAudioBytes),
                                  blockBytes.subspan(kAudioBytes, kC2Bytes));
                break;
        }
        if (form == BlockForm::audioC2BlockError) {
            blockBytes[kAudioBytes + kC2Bytes] = BlockError(sector, honesty, blockBytes);
            blockBytes[kAudioBytes + kC2Bytes + 1] = 0;
        }
        if (read != SectorRead::ok) {
            // The blocks before the failing one have reached the host; the failing one has not.
            const SenseCode code = read == SectorRead::unreadable ? sense::unrecoveredReadError
                                                                  : sense::internalTargetFailure;
            return Outcome{i * block, true, code, true, static_cast<uint32_t>(sector)};
        }
    }
    return Outcome{count * block};
}

uint32_t Drive::BlockBytes(BlockForm form) {
    switch (form) {
        case BlockForm::data2048:
            return 2048;
        case BlockForm::audio:
            return kAudioBytes;
        case BlockForm::audioC2BlockError:
            return kAudioBytes + kC2Bytes + 2;
        case BlockForm::audioC2:
        case BlockForm::c2Audio:
            break;
    }
    return kAudioBytes + kC2Bytes;
}

int64_t Drive::DeliveredStart(int64_t sector) const {
    return sector * kAudioBytes + int64_t{settings_.readOffsetSamples} * 4;
}

bool Drive::SectorUnreadable(int64_t sector) const {
    const int64_t start = DeliveredStart(sector);
    const int64_t first = FloorDiv(start, kAudioBytes);
    const int64_t last = FloorDiv(start + kAudioBytes - 1, kAudioBytes);
    return disc_->IsUnreadable(first) || (last != first && disc_->IsUnreadable(last));
}

uint8_t Drive::BlockError(int64_t sector, const C2Honesty& honesty,
                          std::span<const uint8_t> block) const {
    switch (honesty.blockError) {
        case BlockErrorByte::zero:
            return 0;
        case BlockErrorByte::errors: {
            std::array<uint8_t, kC2Bytes> corrupted{};
            WalkDamage(DeliveredStart(sector), honesty, {}, {}, corrupted);
            return std::any_of(corrupted.begin(), corrupted.end(), [](uint8_t b) { return b != 0; })
                       ? 1
                       : 0;
        }
        case BlockErrorByte::flags:
            break;
    }
    uint8_t any = 0;
    for (const uint8_t bits : block.subspan(kAudioBytes, kC2Bytes)) {
        any |= bits;
    }
    return any;
}

Drive::SectorRead Drive::ReadSector(int64_t sector, const C2Honesty& honesty,
                                    std::span<uint8_t> audio, std::span<uint8_t> c2) {
    if (SectorUnreadable(sector)) {
        return SectorRead::unreadable;
    }
    const int64_t start = DeliveredStart(sector);
    if (!disc_->ReadImage(start, audio)) {
        return SectorRead::ioError;
    }
    WalkDamage(start, honesty, audio, {}, {});
    if (!c2.empty()) {
        DeliveredPointers(sector, honesty, c2);
    }
    return SectorRead::ok;
}

void Drive::OwnFlags(int64_t sector, const C2Honesty& honesty, std::span<uint8_t> flags) const {
    std::fill(flags.begin(), flags.end(), 0);
    if (honesty.alwaysZero) {
        return;
    }
    WalkDamage(DeliveredStart(sector), honesty, {}, flags, {});
    if (honesty.granularity == FlagGranularity::sector &&
        std::any_of(flags.begin(), flags.end(), [](uint8_t b) { return b != 0; })) {
        std::fill(flags.begin(), flags.end(), 0xFF);
    }
}

void Drive::DeliveredPointers(int64_t sector, const C2Honesty& honesty,
                              std::span<uint8_t> pointers) const {
    if (honesty.Lag() == 0) {
        OwnFlags(sector, honesty, pointers);
        return;
    }
    // The pointer stream runs 294 bytes a sector; a late drive sends the bytes that belong
    // Lag() earlier, which span at most two sectors' flags.
    const int64_t from = sector * int64_t{kC2Bytes} - int64_t{honesty.Lag()};
    const int64_t first = FloorDiv(from, kC2Bytes);
    const auto skip = static_cast<size_t>(from - first * int64_t{kC2Bytes});
    std::array<uint8_t, 2 * kC2Bytes> two{};
    const auto own = std::span(two).first(kC2Bytes);
    const auto next = std::span(two).last(kC2Bytes);
    if (first >= 0) {
        OwnFlags(first, honesty, own);
    }
    if (skip > 0 && first + 1 >= 0) {
        OwnFlags(first + 1, honesty, next);
    }
    std::copy_n(two.begin() + static_cast<ptrdiff_t>(skip), kC2Bytes, pointers.begin());
}

void Drive::WalkDamage(int64_t start, const C2Honesty& honesty, std::span<uint8_t> audio,
                       std::span<uint8_t> flags, std::span<uint8_t> corrupted) const {
    const int64_t end = std::min<int64_t>(start + kAudioBytes, disc_->ImageBytes());
    const int64_t unit = honesty.granularity == FlagGranularity::sample ? 2 : 1;
    int64_t position = std::max<int64_t>(start, 0);
    while (position < end) {
        const int64_t discSector = position / kAudioBytes;
        const int64_t segmentEnd = std::min(end, (discSector + 1) * int64_t{kAudioBytes});
        const SectorDamage damage = disc_->DamageAt(discSector);
        for (; damage.Damaged() && position < segmentEnd; position += unit) {
            bool wrong = false;
            for (int64_t at = position; at < position + unit; ++at) {
                const uint8_t mask = disc_->CorruptionAt(at, damage);
                if (mask == 0) {
                    continue;
                }
                wrong = true;
                const auto index = static_cast<size_t>(at - start);
                if (!audio.empty()) {
                    audio[index] ^= mask;
                }
                if (!corrupted.empty()) {
                    SetBit(corrupted, index);
                }
            }
            const double chance = wrong ? honesty.flagWrong : honesty.flagGood;
            const auto unitIndex = static_cast<uint64_t>(position / unit);
            if (!flags.empty() && Unit(Draw(disc_->Seed(), Stream::flagging, unitIndex)) < chance) {
                for (int64_t at = position; at < position + unit; ++at) {
                    SetBit(flags, static_cast<size_t>(at - start));
                }
            }
        }
        position = segmentEnd;
    }
}

SectorTruth Drive::Truth(int64_t sector) const {
    std::lock_guard lock(mutex_);
    return TruthWith(sector, settings_.honesty);
}

FormTruth Drive::Truth(int64_t sector, C2Form form, uint32_t speedKBps) const {
    std::lock_guard lock(mutex_);
    return TruthWith(sector, HonestyOf(form, speedKBps));
}

FormTruth Drive::TruthWith(int64_t sector, const C2Honesty& honesty) const {
    FormTruth truth;
    if (!disc_) {
        return truth;
    }
    WalkDamage(DeliveredStart(sector), honesty, {}, {}, truth.corrupted);
    OwnFlags(sector, honesty, truth.flagged);
    DeliveredPointers(sector, honesty, truth.delivered);
    truth.unreadable = SectorUnreadable(sector);
    return truth;
}

bool Drive::ReadCleanAudio(int64_t sector, std::span<uint8_t> audio) {
    std::lock_guard lock(mutex_);
    return disc_ && audio.size() == kAudioBytes && disc_->ReadImage(DeliveredStart(sector), audio);
}

}  // namespace simdrive
