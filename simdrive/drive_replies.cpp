// Replies of the drive's non-read commands: identification, table of contents, capacity and
// the capabilities mode page.
#include <algorithm>

#include "simdrive/bytes.h"
#include "simdrive/drive.h"

namespace simdrive {

namespace {

constexpr uint8_t kCapabilitiesPage = 0x2A;
constexpr uint8_t kAllPages = 0x3F;
constexpr uint8_t kCapabilitiesPageLength = 0x14;
constexpr uint8_t kLeadOutTrack = 0xAA;
constexpr uint8_t kDensityAudioC2 = 0x82;

struct Msf {
    uint8_t minute = 0;
    uint8_t second = 0;
    uint8_t frame = 0;
};

Msf ToMsf(int64_t lba) {
    const int64_t absolute = lba + kSectorsBeforeProgramArea;
    return Msf{static_cast<uint8_t>(absolute / (60 * kFramesPerSecond)),
               static_cast<uint8_t>(absolute / kFramesPerSecond % 60),
               static_cast<uint8_t>(absolute % kFramesPerSecond)};
}

uint8_t ToBcd(uint8_t value) {
    return static_cast<uint8_t>((value / 10) << 4 | (value % 10));
}

void PutText(std::span<uint8_t> reply, size_t at, size_t width, const std::string& text) {
    for (size_t i = 0; i < width; ++i) {
        reply[at + i] = i < text.size() ? static_cast<uint8_t>(text[i]) : ' ';
    }
}

uint8_t AdrControl(bool data) {
    return data ? 0x14 : 0x10;
}

// One 8-byte track descriptor of READ TOC format 0.
void PutTocDescriptor(std::span<uint8_t> reply, size_t at, uint8_t adrControl, uint8_t track,
                      int64_t lba, bool msf) {
    reply[at] = 0;
    reply[at + 1] = adrControl;
    reply[at + 2] = track;
    reply[at + 3] = 0;
    if (msf) {
        const Msf time = ToMsf(lba);
        reply[at + 4] = 0;
        reply[at + 5] = time.minute;
        reply[at + 6] = time.second;
        reply[at + 7] = time.frame;
    } else {
        PutBe32(reply, at + 4, static_cast<uint32_t>(lba));
    }
}

}  // namespace

Drive::Outcome Drive::SendReply(size_t length, size_t allocation, std::span<uint8_t> data) const {
    const size_t wanted = std::min(length, allocation);
    const size_t sent = std::min(wanted, data.size());
    std::copy_n(reply_.begin(), sent, data.begin());
    Outcome outcome{static_cast<uint32_t>(sent)};
    if (sent < wanted) {
        outcome.host = HostStatus::dataOverrun;
    }
    return outcome;
}

Drive::Outcome Drive::Inquiry(std::span<const uint8_t> cdb, std::span<uint8_t> data) {
    if ((cdb[1] & 0x01) != 0) {
        return VitalProductData(cdb, data);
    }
    if (cdb[2] != 0) {
        return Outcome{0, true, sense::invalidFieldInCdb};
    }
    const size_t length = settings_.vendorSpecific ? 56 : 36;
    std::fill_n(reply_.begin(), length, 0);
    reply_[0] = settings_.peripheralType & 0x1F;
    reply_[1] = settings_.removable ? 0x80 : 0x00;
    reply_[2] = 0x00;
    reply_[3] = 0x02;  // response data format
    reply_[4] = static_cast<uint8_t>(length - 5);
    PutText(reply_, 8, 8, settings_.vendor);
    PutText(reply_, 16, 16, settings_.product);
    PutText(reply_, 32, 4, settings_.revision);
    if (settings_.vendorSpecific) {
        PutText(reply_, 36, 20, *settings_.vendorSpecific);
    }
    return SendReply(length, GetBe16(cdb, 3), data);
}

// Pages 0x00 (the list) and 0x80 (the unit serial number), only for a drive with a serial.
Drive::Outcome Drive::VitalProductData(std::span<const uint8_t> cdb, std::span<uint8_t> data) {
    constexpr uint8_t supportedPages = 0x00;
    constexpr uint8_t unitSerial = 0x80;
    if (!settings_.serial || (cdb[2] != supportedPages && cdb[2] != unitSerial)) {
        return Outcome{0, true, sense::invalidFieldInCdb};
    }
    const std::string& serial = *settings_.serial;
    const size_t length = cdb[2] == unitSerial ? 4 + serial.size() : 6;
    std::fill_n(reply_.begin(), length, 0);
    reply_[0] = settings_.peripheralType & 0x1F;
    reply_[1] = cdb[2];
    reply_[3] = static_cast<uint8_t>(length - 4);
    if (cdb[2] == unitSerial) {
        PutText(reply_, 4, serial.size(), serial);
    } else {
        reply_[5] = unitSerial;
    }
    return SendReply(length, GetBe16(cdb, 3), data);
}

Drive::Outcome Drive::ReadToc(std::span<const uint8_t> cdb, std::span<uint8_t> data) {
    uint8_t format = cdb[2] & 0x0F;
    const uint8_t controlFormat = cdb[9] >> 6;
    const bool olderForm = format == 0 && controlFormat != 0;
    if (olderForm) {
        format = controlFormat;
    }
    const bool msf = (cdb[1] & 0x02) != 0;
    size_t length = 0;
    switch (format) {
        case 0:
            length = settings_.tocReply.empty() ? BuildToc(msf, cdb[6]) : PutTocReply();
            break;
        case 1:
            length = BuildSessionInfo();
            break;
        case 2: {
            const bool accepted =
                olderForm ? settings_.fullTocInControlByte : settings_.fullTocInByte2;
            length = accepted ? BuildFullToc() : 0;
            break;
        }
        default:
            break;
    }
    if (length == 0) {
        return Outcome{0, true, sense::invalidFieldInCdb};
    }
    return SendReply(length, GetBe16(cdb, 7), data);
}

size_t Drive::BuildToc(bool msf, uint8_t startTrack) {
    const std::vector<Track>& tracks = disc_->Tracks();
    const uint8_t first = tracks.front().number;
    const uint8_t last = tracks.back().number;
    if (startTrack > last && startTrack != kLeadOutTrack) {
        return 0;
    }
    size_t at = 4;
    for (const Track& track : tracks) {
        if (track.number >= startTrack) {
            PutTocDescriptor(reply_, at, AdrControl(track.data), track.number, track.start, msf);
            at += 8;
        }
    }
    PutTocDescriptor(reply_, at, AdrControl(tracks.back().data), kLeadOutTrack, disc_->LeadOut(),
                     msf);
    at += 8;
    PutBe16(reply_, 0, static_cast<uint32_t>(at - 2));
    reply_[2] = first;
    reply_[3] = last;
    return at;
}

size_t Drive::PutTocReply() {
    const size_t length = std::min(settings_.tocReply.size(), reply_.size());
    std::copy_n(settings_.tocReply.begin(), length, reply_.begin());
    return length;
}

size_t Drive::BuildSessionInfo() {
    const Session& lastSession = disc_->Sessions().back();
    const Track& firstOfLast = disc_->Tracks()[lastSession.firstTrack - 1];
    PutBe16(reply_, 0, 10);
    reply_[2] = 1;
    reply_[3] = lastSession.number;
    PutTocDescriptor(reply_, 4, AdrControl(firstOfLast.data), firstOfLast.number, firstOfLast.start,
                     false);
    return 12;
}

size_t Drive::BuildFullToc() {
    const auto code = [this](uint8_t value) { return settings_.fullTocBcd ? ToBcd(value) : value; };
    size_t at = 4;
    // Session, ADR/CONTROL, TNO, POINT, MIN, SEC, FRAME, ZERO, PMIN, PSEC, PFRAME.
    const auto put = [&](uint8_t session, uint8_t adrControl, uint8_t point, uint8_t pmin,
                         uint8_t psec, uint8_t pframe) {
        const std::array<uint8_t, 11> descriptor{session, adrControl, 0,    point, 0,     0,
                                                 0,       0,          pmin, psec,  pframe};
        std::copy(descriptor.begin(), descriptor.end(),
                  reply_.begin() + static_cast<ptrdiff_t>(at));
        at += descriptor.size();
    };
    const bool multiSession = disc_->Sessions().size() > 1;
    for (const Session& session : disc_->Sessions()) {
        const uint8_t adrControl = AdrControl(session.data);
        const uint8_t discType = multiSession ? 0x20 : 0x00;
        put(session.number, adrControl, 0xA0, code(session.firstTrack), discType, 0);
        put(session.number, adrControl, 0xA1, code(session.lastTrack), 0, 0);
        const Msf leadOut = ToMsf(session.leadOut);
        put(session.number, adrControl, 0xA2, code(leadOut.minute), code(leadOut.second),
            code(leadOut.frame));
        for (const Track& track : disc_->Tracks()) {
            if (track.session == session.number) {
                const Msf start = ToMsf(track.start);
                put(session.number, AdrControl(track.data), code(track.number), code(start.minute),
                    code(start.second), code(start.frame));
            }
        }
    }
    PutBe16(reply_, 0, static_cast<uint32_t>(at - 2));
    reply_[2] = 1;
    reply_[3] = disc_->Sessions().back().number;
    return at;
}

Drive::Outcome Drive::ReadCapacity(std::span<uint8_t> data) {
    PutBe32(reply_, 0,
            settings_.capacityLastLba.value_or(static_cast<uint32_t>(disc_->LeadOut() - 1)));
    PutBe32(reply_, 4, 2048);
    return SendReply(8, 8, data);
}

size_t Drive::PutCapabilitiesPage(size_t at, bool changeable) {
    const auto page = std::span(reply_).subspan(at, size_t{kCapabilitiesPageLength} + 2);
    std::fill(page.begin(), page.end(), 0);
    page[0] = kCapabilitiesPage;
    page[1] = kCapabilitiesPageLength;
    if (!changeable) {
        page[2] = 0x03;  // reads CD-R and CD-RW
        page[4] = 0x01;  // audio play
        // CD-DA commands supported, stream accurate, and the C2 pointer bit.
        page[5] = static_cast<uint8_t>(0x03 | (settings_.c2PointerBit ? 0x10 : 0x00));
        page[6] = 0x29;                                 // tray, eject, lock
        PutBe16(page, 8, settings_.readSpeeds.back());  // maximum read speed, kB/s
        PutBe16(page, 10, 256);
        PutBe16(page, 12, 2048);
        PutBe16(page, 14, readSpeed_);  // current read speed, kB/s
    }
    return page.size();
}

Drive::Outcome Drive::ModeSense(std::span<const uint8_t> cdb, std::span<uint8_t> data,
                                bool tenByte) {
    const uint8_t pageControl = cdb[2] >> 6;
    const uint8_t page = cdb[2] & 0x3F;
    if (page != kCapabilitiesPage && page != kAllPages) {
        return Outcome{0, true, sense::invalidFieldInCdb};
    }
    if (pageControl == 3) {
        return Outcome{0, true, sense::savingNotSupported};
    }
    const bool blockDescriptor = (cdb[1] & 0x08) == 0;
    const size_t header = tenByte ? 8 : 4;
    std::fill_n(reply_.begin(), header, 0);
    size_t at = header;
    if (blockDescriptor) {
        std::fill_n(reply_.begin() + static_cast<ptrdiff_t>(at), 8, 0);
        reply_[at] = density_;
        PutBe24(reply_, at + 5, blockLength_);
        at += 8;
    }
    at += PutCapabilitiesPage(at, pageControl == 1);
    if (tenByte) {
        PutBe16(reply_, 0, static_cast<uint32_t>(at - 2));
        PutBe16(reply_, 6, blockDescriptor ? 8 : 0);
        return SendReply(at, GetBe16(cdb, 7), data);
    }
    reply_[0] = static_cast<uint8_t>(at - 1);
    reply_[3] = blockDescriptor ? 8 : 0;
    return SendReply(at, cdb[4], data);
}

Drive::Outcome Drive::ModeSelect(std::span<const uint8_t> cdb, std::span<const uint8_t> data) {
    const size_t listLength = cdb[4];
    if ((cdb[1] & 0x01) != 0) {
        return Outcome{0, true, sense::savingNotSupported};
    }
    if (listLength == 0) {
        return Outcome{};
    }
    if (listLength > data.size()) {
        return Outcome{0, false, {}, false, 0, HostStatus::dataOverrun};
    }
    if (listLength < 4) {
        return Outcome{0, true, sense::parameterListLengthError};
    }
    const size_t descriptorLength = data[3];
    if (descriptorLength == 0) {
        return Outcome{static_cast<uint32_t>(listLength)};  // pages only: nothing we keep
    }
    if (descriptorLength != 8 || listLength < 12) {
        return descriptorLength != 8 ? Outcome{0, true, sense::invalidFieldInParameterList}
                                     : Outcome{0, true, sense::parameterListLengthError};
    }
    const uint8_t density = data[4];
    const uint32_t blockLength = GetBe24(data, 9);
    const bool dataMode = blockLength == 2048 && density == 0x00;
    const bool audioMode = blockLength == kAudioBytes && settings_.densityAudio &&
                           (density == 0x00 || density == kDensityAudioC2);
    const bool c2Mode =
        blockLength == kAudioBytes + kC2Bytes && settings_.densityC2 && density == kDensityAudioC2;
    if (!dataMode && !audioMode && !c2Mode) {
        return Outcome{0, true, sense::invalidFieldInParameterList};
    }
    density_ = density;
    blockLength_ = blockLength;
    return Outcome{static_cast<uint32_t>(listLength)};
}

}  // namespace simdrive
