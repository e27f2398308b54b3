#include "audio/toc.h"

#include <optional>

#include "audio/commands.h"
#include "audio/drive_command.h"
#include "audio/toc_decode.h"
#include "drive/aspi_proc.h"
#include "drive/manners.h"
#include "runtime/error.h"

namespace audio {

DriveReady AwaitReady(drive::DriveRecord& drive, void (*announceWait)()) {
    drive.waitedInVain = false;
    const CommandBlock block = TestUnitReadyCommand();
    drive::Patience patience(drive::startUnitAttentions, true, announceWait);
    drive::CommandResult answer;
    do {
        answer = RunWithoutReply(drive, DriveCommand(block, drive::DataDirection::none, 0, 0));
    } while (patience.SendAgain(answer));
    switch (patience.End()) {
        case drive::PatienceEnd::unitAttentionKept:
            return DriveReady::unitAttentionKept;
        case drive::PatienceEnd::neverReady:
            return DriveReady::neverReady;
        case drive::PatienceEnd::answered:
            break;
    }
    return drive::ReadinessOf(answer) == drive::Readiness::noDisc ? DriveReady::noDisc
                                                                  : DriveReady::ready;
}

std::int32_t ReadToc(std::span<TocEntry> table, std::int32_t& lastTrack, std::int32_t& firstTrack,
                     drive::DriveRecord& drive) {
    const CommandBlock block = ReadTocCommand();
    std::int32_t trackCount = 0;
    const drive::CommandResult result = drive::CommandCycle(
        drive, ReplyCommand(block, tocReplyBytes),
        [&](const drive::CommandResult& answer, std::span<const std::uint8_t> reply) {
            if (answer.Succeeded()) {
                trackCount = DecodeToc(std::as_bytes(reply), table, lastTrack, firstTrack);
            }
        });
    if (!result.Succeeded()) {
        return 0;
    }
    // A lead-out the drive could not put into 100 minutes reads as 0; the capacity knows
    // better, if it passes the same test. Otherwise the table's own lead-out stays, and
    // DiscReadRange finds it unusable.
    std::int64_t sectorCount = 0;
    if (LeadOutImplausible(table, trackCount) && ReadCapacity(sectorCount, drive)) {
        std::int64_t& leadOut = table[static_cast<std::size_t>(trackCount)].startSector;
        const std::int64_t tocLeadOut = leadOut;
        leadOut = sectorCount;
        if (LeadOutImplausible(table, trackCount)) {
            leadOut = tocLeadOut;
        }
    }
    ReadSessions(table, trackCount, drive);
    return trackCount;
}

bool ReadCapacity(std::int64_t& sectorCount, drive::DriveRecord& drive) {
    const CommandBlock block = ReadCapacityCommand();
    const drive::CommandResult result =
        drive::CommandCycle(drive, ReplyCommand(block, capacityReplyBytes),
                            [&](const drive::CommandResult&, std::span<const std::uint8_t> reply) {
                                sectorCount = DecodeCapacity(std::as_bytes(reply));
                            });
    return result.SucceededInFull();
}

void ReadSessions(std::span<TocEntry> table, std::int32_t trackCount, drive::DriveRecord& drive) {
    runtime::CheckIndex(static_cast<std::size_t>(trackCount), table.size());
    const auto entries = table.first(static_cast<std::size_t>(trackCount) + 1);
    // Older drives take the full-TOC format in the control byte only.
    for (const FullTocForm form : {FullTocForm::formatField, FullTocForm::controlByte}) {
        const CommandBlock block = ReadFullTocCommand(form);
        bool decoded = false;
        (void)drive::CommandCycle(
            drive, ReplyCommand(block, fullTocReplyBytes),
            [&](const drive::CommandResult& answer, std::span<const std::uint8_t> reply) {
                if (answer.Succeeded()) {
                    DecodeSessions(std::as_bytes(reply), drive.rawTocBcd, entries);
                    decoded = true;
                }
            });
        if (decoded) {
            return;
        }
    }
    DecodeSessions(std::nullopt, drive.rawTocBcd, entries);
}

}  // namespace audio
