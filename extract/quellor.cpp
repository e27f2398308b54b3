#include "extract/quellor.h"

#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "audio/c2_read.h"
#include "audio/toc.h"
#include "audio/toc_decode.h"
#include "drive/drive_layer.h"
#include "extract/arguments.h"
#include "extract/extract_disc.h"
#include "extract/slot_pool.h"
#include "extract/speed_list.h"
#include "extract/study.h"
#include "runtime/command_line.h"
#include "runtime/console.h"
#include "runtime/halt.h"
#include "runtime/memory.h"

namespace extract {
namespace {

constexpr std::size_t commandTextSize = 256;

// Program-wide state of Quellor, owned here for the whole run.
struct ProgramState {
    std::byte* audioArea = nullptr;
    std::byte* c2Area = nullptr;
    std::array<drive::DriveRecord, drive::maxDrives> driveTable{};
    std::int32_t driveCount = 0;
    std::array<audio::TocEntry, audio::tocEntries> tocTable{};
    std::array<char, commandTextSize> argumentText{};
    std::array<char, commandTextSize> argumentBuffer{};
    SlotPool slotPool;
    runtime::TerminationProc previousTermination = nullptr;
};

ProgramState state;

void WriteLine(std::string_view text) {
    runtime::WriteString(text);
    runtime::WriteLn();
}

// A fatal error can end the program while the writer still runs, waiting on an event or
// writing from a slot: then the areas and events stay as they are (closing an event under its
// waiter blocks for ever) and go with the process.
void ReleaseResources() {
    runtime::InstallTermination(state.previousTermination);
    if (state.slotPool.WriterRunning()) {
        return;
    }
    if (state.audioArea != nullptr) {
        runtime::Deallocate(state.audioArea, audioAreaBytes);
    }
    if (state.c2Area != nullptr) {
        runtime::Deallocate(state.c2Area, c2AreaBytes);
    }
    state.slotPool.CloseEvents();
}

void PrintBanner() {
    WriteLine("Quellor for Marrowby V1.1");
    WriteLine("Copyright (c) the Marrowby developers. Free to use for testing CD drives.");
    runtime::WriteLn();
}

std::string_view TocFaultMessage(audio::TocFault fault) {
    switch (fault) {
        case audio::TocFault::noTrack:
            return "The disc's table of contents lists no track!";
        case audio::TocFault::firstTrackAfterLast:
            return "The disc's table of contents puts its first track after its last!";
        case audio::TocFault::noUsableLeadOut:
            return "The disc's table of contents has no usable lead-out!";
        case audio::TocFault::nothingToRead:
        case audio::TocFault::none:
            break;
    }
    return "The disc's table of contents leaves no sector to read!";
}

std::string_view ArgumentText() {
    return {state.argumentText.data(), state.argumentText.size()};
}

std::string Argument(std::int32_t n) {
    GetArgument(ArgumentText(), n, state.argumentBuffer);
    return state.argumentBuffer.data();
}

void AnnounceWait() {
    WriteLine("Waiting for the drive to become ready...");
}

// A disc just inserted spins up for some seconds, and the first command after a change reports
// it: neither means that there is no disc. False, with the message printed and `exitCode` set,
// when there is nothing to read.
bool DriveIsReady(drive::DriveRecord& drive, std::int32_t& exitCode) {
    switch (audio::AwaitReady(drive, AnnounceWait)) {
        case audio::DriveReady::ready:
            return true;
        case audio::DriveReady::noDisc:
            WriteLine("No CD found in specified drive!");
            exitCode = 0;
            return false;
        case audio::DriveReady::neverReady:
            WriteLine("The drive did not become ready in 30 s.");
            break;
        case audio::DriveReady::unitAttentionKept:
            WriteLine("The drive keeps reporting a change (unit attention).");
            break;
    }
    exitCode = 1;
    return false;
}

// The drive of argument `n` and the end of its disc, with the slot pool ready; nothing, with
// the message printed and `exitCode` set, when there is nothing to read.
std::optional<std::pair<drive::DriveRecord*, std::int32_t>> DriveToRead(std::int32_t n,
                                                                        std::int32_t& exitCode) {
    GetArgument(ArgumentText(), n, state.argumentBuffer);
    std::int32_t driveNumber = -1;
    if (!runtime::StrToInt({state.argumentBuffer.data(), state.argumentBuffer.size()},
                           driveNumber) ||
        driveNumber < 0 || driveNumber >= state.driveCount) {
        WriteLine("Drive number does not exists!");
        exitCode = 0;
        return std::nullopt;
    }
    drive::DriveRecord& drive = state.driveTable[static_cast<std::size_t>(driveNumber)];
    if (!DriveIsReady(drive, exitCode)) {
        return std::nullopt;
    }
    std::int32_t lastTrack = 0;
    std::int32_t firstTrack = 0;
    const std::int32_t trackCount = audio::ReadToc(state.tocTable, lastTrack, firstTrack, drive);
    if (trackCount < 1) {
        WriteLine("No CD found in specified drive!");
        exitCode = 0;
        return std::nullopt;
    }
    const audio::ReadRange range =
        audio::DiscReadRange(state.tocTable, trackCount, firstTrack, lastTrack);
    if (range.fault != audio::TocFault::none) {
        WriteLine(TocFaultMessage(range.fault));
        exitCode = 1;
        return std::nullopt;
    }
    state.slotPool.InitSlotPool({state.audioArea, audioAreaBytes}, {state.c2Area, c2AreaBytes});
    return std::pair{&drive, range.endSector};
}

// `--study <Drive number> [--speeds LIST]`; the usage with the accepted speeds otherwise.
std::int32_t StudyDrive() {
    const std::int32_t count = ArgumentCount(ArgumentText());
    std::optional<std::vector<StudySpeed>> speeds = std::vector<StudySpeed>{};
    if (count == 4) {
        speeds = Argument(3) == "--speeds" ? ParseSpeedList(Argument(4)) : std::nullopt;
    }
    if ((count != 2 && count != 4) || !speeds) {
        WriteLine("Usage : Quellor <Drive number>");
        WriteLine("        Quellor --study <Drive number> [--speeds LIST]");
        WriteLine("LIST: read speeds separated by commas, each Nx (N x 176.4 kB/s, N from 1 to");
        WriteLine("371) or max, none twice; for instance --speeds 8x,max");
        return 1;
    }
    std::int32_t exitCode = 0;
    const auto target = DriveToRead(2, exitCode);
    if (!target) {
        return exitCode;
    }
    return RunStudy(*target->first, target->second, state.slotPool, *speeds);
}

// The run after start-up, ending in the exit code; every message ends with a line end.
std::int32_t ChooseDriveAndExtract() {
    if (Argument(1) == "--study") {
        return StudyDrive();
    }
    if (ArgumentCount(ArgumentText()) != 1) {
        WriteLine("Usage : Quellor <Drive number>");
        return 0;
    }
    std::int32_t exitCode = 0;
    const auto target = DriveToRead(1, exitCode);
    if (!target) {
        return exitCode;
    }
    drive::DriveRecord& drive = *target->first;
    const ExtractOutcome outcome = ExtractDisc(0, target->second, drive, state.slotPool);
    audio::RestoreDataDensity(drive);
    return outcome == ExtractOutcome::done ? 0 : 1;
}

}  // namespace

std::int32_t RunQuellor() {
    drive::StartDriveLayer();
    state.previousTermination = runtime::InstallTermination(ReleaseResources);
    drive::SelectTransport();

    state.audioArea = runtime::Allocate(audioAreaBytes);
    state.c2Area = state.audioArea != nullptr ? runtime::Allocate(c2AreaBytes) : nullptr;
    if (state.c2Area == nullptr) {
        // Without its buffers the program cannot read a disc: say so rather than end quietly.
        WriteLine("Not enough memory!");
        return 1;
    }

    (void)drive::DiscoverDrives(state.driveCount, drive::maxDrives, state.driveTable);
    drive::ResetDriveSettings(
        std::span(state.driveTable).first(static_cast<std::size_t>(state.driveCount)));
    runtime::CommandTail(state.argumentText);
    PrintBanner();
    return ChooseDriveAndExtract();
}

}  // namespace extract
