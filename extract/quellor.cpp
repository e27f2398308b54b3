#include "extract/quellor.h"

#include <array>
#include <span>
#include <string_view>

#include "audio/c2_read.h"
#include "audio/toc.h"
#include "audio/toc_decode.h"
#include "drive/drive_layer.h"
#include "extract/arguments.h"
#include "extract/extract_disc.h"
#include "extract/slot_pool.h"
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

// The drive number typed on the command line, or -1 when it is not one.
std::int32_t DriveNumberArgument() {
    GetArgument({state.argumentText.data(), state.argumentText.size()}, 1, state.argumentBuffer);
    std::int32_t number = 0;
    const bool isNumber =
        runtime::StrToInt({state.argumentBuffer.data(), state.argumentBuffer.size()}, number);
    return isNumber ? number : -1;
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

// The run after start-up, ending in the exit code; every message ends with a line end.
std::int32_t ChooseDriveAndExtract() {
    if (ArgumentCount({state.argumentText.data(), state.argumentText.size()}) != 1) {
        WriteLine("Usage : Quellor <Drive number>");
        return 0;
    }
    const std::int32_t driveNumber = DriveNumberArgument();
    if (driveNumber < 0 || driveNumber >= state.driveCount) {
        WriteLine("Drive number does not exists!");
        return 0;
    }
    drive::DriveRecord& drive = state.driveTable[static_cast<std::size_t>(driveNumber)];
    std::int32_t lastTrack = 0;
    std::int32_t firstTrack = 0;
    const std::int32_t trackCount = audio::ReadToc(state.tocTable, lastTrack, firstTrack, drive);
    if (trackCount < 1) {
        WriteLine("No CD found in specified drive!");
        return 0;
    }
    const audio::ReadRange range =
        audio::DiscReadRange(state.tocTable, trackCount, firstTrack, lastTrack);
    if (range.fault != audio::TocFault::none) {
        WriteLine(TocFaultMessage(range.fault));
        return 1;
    }
    state.slotPool.InitSlotPool({state.audioArea, audioAreaBytes}, {state.c2Area, c2AreaBytes});
    const ExtractOutcome outcome = ExtractDisc(0, range.endSector, drive, state.slotPool);
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
