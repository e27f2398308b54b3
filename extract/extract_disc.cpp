#include "extract/extract_disc.h"

#include <algorithm>
#include <string_view>

#include "audio/c2_read.h"
#include "drive/inquiry.h"
#include "extract/file_names.h"
#include "extract/progress.h"
#include "extract/writer.h"
#include "runtime/console.h"
#include "runtime/error.h"
#include "runtime/thread.h"
#include "wav/wav_header.h"

namespace extract {
namespace {

constexpr std::int32_t ChunkSectors = 24;
constexpr std::size_t writerStackSize = 32'768;

// Owned by the driver for the run; the writer gets its address.
WriterShared shared;

void WriteLine(std::string_view text) {
    runtime::WriteString(text);
    runtime::WriteLn();
}

// Detection runs twice; when the two disagree, a third answer decides.
audio::C2Search DetectC2ModeSettled(drive::DriveRecord& drive, std::int32_t firstSector) {
    audio::C2Search search = audio::FindC2Mode(firstSector, drive);
    if (search != audio::C2Search::found) {
        return search;
    }
    const std::int32_t firstAnswer = drive.c2Method;
    search = audio::FindC2Mode(firstSector, drive);
    if (search != audio::C2Search::found || drive.c2Method == firstAnswer) {
        return search;
    }
    return audio::FindC2Mode(firstSector, drive);
}

bool CreateOutputFiles(const OutputNames& names) {
    runtime::CreateOutputFile(names.wav.data(), shared.wavFile);
    runtime::CreateOutputFile(names.c2.data(), shared.c2File);
    return shared.wavFile.result == 0 && shared.c2File.result == 0;
}

void CloseOutputFiles() {
    if (shared.wavFile.IsOpen()) {
        runtime::CloseFile(shared.wavFile);
    }
    if (shared.c2File.IsOpen()) {
        runtime::CloseFile(shared.c2File);
    }
}

// Sectors that could not be read even on their own; each is stored as zeros.
struct ReadFailures {
    std::int32_t sectors = 0;  // at most the lead-out, which is an int32
    std::int32_t firstSector = -1;
    bool driveLost = false;
    std::int32_t lostAtSector = 0;
    std::uint8_t lostAsc = 0;
    ReadTimes times;

    void Note(std::int32_t sector) {
        ++sectors;
        if (firstSector < 0) {
            firstSector = sector;
        }
    }
};

// A chunk whose reads took longer than this is a slow region: firmware retrying a damaged area.
constexpr runtime::Microseconds slowChunk = std::chrono::seconds(4);

void NoteChunkTime(ReadTimes& times, std::int32_t sector, runtime::Microseconds spent) {
    times.inReads += spent;
    if (spent <= slowChunk) {
        return;
    }
    ++times.slowReads;
    if (spent > times.slowest) {
        times.slowest = spent;
        times.slowestSector = sector;
    }
}

// A chunk fails as a whole when one of its sectors does; read alone, the others still arrive,
// so only the sectors that fail by themselves are lost. False when the drive was lost and the
// pass is to stop.
bool ReadSectorBySector(BufferSlot& slot, drive::DriveRecord& drive, std::int32_t sector,
                        std::int32_t count, DriveLoss loss, ReadFailures& failures,
                        runtime::Microseconds& spent) {
    for (std::int32_t i = 0; i < count; ++i) {
        const auto at = static_cast<std::size_t>(i);
        const auto audio = slot.audio.subspan(at * audioBytesPerSector, audioBytesPerSector);
        const auto c2 = slot.c2.subspan(at * audio::c2RecordBytes, audio::c2RecordBytes);
        const drive::CommandResult answer =
            audio::ReadAudioC2Answer(c2, audio, 1, sector + i, drive);
        spent += answer.elapsed;
        if (answer.SucceededInFull()) {
            continue;
        }
        if (loss == DriveLoss::stopPass && answer.DriveLost()) {
            failures.driveLost = true;
            failures.lostAtSector = sector + i;
            failures.lostAsc = answer.asc;
            return false;
        }
        std::ranges::fill(audio, std::byte{0});
        std::ranges::fill(c2, std::byte{0});
        failures.Note(sector + i);
    }
    return true;
}

// Reads `count` sectors into a free slot and hands it to the writer; a chunk in which the
// drive was lost goes back unwritten.
bool ReadChunk(SlotPool& pool, drive::DriveRecord& drive, std::int32_t sector, std::int32_t count,
               DriveLoss loss, ReadFailures& failures) {
    BufferSlot& slot = pool.TakeSlot(pool.freeQueue);
    // A drive that answers GOOD with fewer bytes than asked has not read the sectors.
    const drive::CommandResult answer =
        audio::ReadAudioC2Answer(slot.c2, slot.audio, count, sector, drive);
    runtime::Microseconds spent = answer.elapsed;
    const bool whole = answer.SucceededInFull() ||
                       ReadSectorBySector(slot, drive, sector, count, loss, failures, spent);
    NoteChunkTime(failures.times, sector, spent);
    if (!whole) {
        pool.PutSlot(pool.freeQueue, slot);
        return false;
    }
    slot.sectorCount = count;
    pool.PutSlot(pool.filledQueue, slot);
    return true;
}

void SendEndMarker(SlotPool& pool) {
    BufferSlot& marker = pool.TakeSlot(pool.freeQueue);
    marker.sectorCount = 0;
    pool.PutSlot(pool.filledQueue, marker);
}

bool WriteFailed() {
    return shared.Failed();
}

// Reads first..end-1; stops early only when the writer failed or the drive was lost. Returns
// the audio bytes read.
std::int64_t ReadAllChunks(SlotPool& pool, drive::DriveRecord& drive, std::int32_t firstSector,
                           std::int32_t endSector, DriveLoss loss, ReadFailures& failures) {
    std::int32_t nextSector = firstSector;
    std::int64_t dataSize = 0;
    ProgressLine progress(firstSector, endSector, runtime::ConsoleIsTerminal());
    while (nextSector + ChunkSectors < endSector) {
        if (WriteFailed() || !ReadChunk(pool, drive, nextSector, ChunkSectors, loss, failures)) {
            return dataSize;
        }
        nextSector += ChunkSectors;
        dataSize += ChunkSectors * static_cast<std::int64_t>(audioBytesPerSector);
        progress.Show(nextSector);
    }
    if (WriteFailed()) {
        return dataSize;
    }
    const std::int32_t lastCount = endSector - nextSector;
    runtime::CheckRange(lastCount >= 0 && lastCount <= ChunkSectors);
    if (!ReadChunk(pool, drive, nextSector, lastCount, loss, failures)) {
        return dataSize;
    }
    return dataSize + lastCount * static_cast<std::int64_t>(audioBytesPerSector);
}

// After a failed write both files are cut to the sectors they both hold in full, so that
// whatever reads them finds 2,352 audio bytes and 294 C2 bytes for every sector the header
// declares. Returns the audio bytes kept.
std::int64_t CutToWholeSectors() {
    const std::int64_t sectors =
        std::min(shared.audioBytesWritten / static_cast<std::int64_t>(audioBytesPerSector),
                 shared.c2BytesWritten / static_cast<std::int64_t>(c2BytesPerSector));
    const std::int64_t audioBytes = sectors * static_cast<std::int64_t>(audioBytesPerSector);
    if (shared.wavFile.isDisk) {
        runtime::SetFileLength(shared.wavFile,
                               static_cast<std::int64_t>(wav::headerSize) + audioBytes);
    }
    if (shared.c2File.isDisk) {
        runtime::SetFileLength(shared.c2File,
                               sectors * static_cast<std::int64_t>(c2BytesPerSector));
    }
    return audioBytes;
}

void ReportReadFailures(const ReadFailures& failures) {
    if (failures.sectors == 0) {
        return;
    }
    runtime::WriteLn();
    runtime::WriteString("Reads failed for ");
    runtime::WriteInt(failures.sectors, 0);
    runtime::WriteString(" sectors, the first at sector ");
    runtime::WriteInt(failures.firstSector, 0);
    runtime::WriteString("; they are stored as zeros.");
}

void ReportSlowReads(const ReadTimes& times) {
    if (times.slowReads == 0) {
        return;
    }
    runtime::WriteLn();
    runtime::WriteInt(times.slowReads, 0);
    runtime::WriteString(" slow reads, the slowest ");
    runtime::WriteFixed(std::chrono::duration<double>(times.slowest).count(), 1, 1);
    runtime::WriteString(" s at sector ");
    runtime::WriteInt(times.slowestSector, 0);
}

PassReport Failed(PassReport report) {
    report.outcome = ExtractOutcome::outputFailed;
    report.failedFile = shared.failedFile.load();
    report.osError = shared.failedError;
    return report;
}

void ReportWriteFailure(const OutputNames& names) {
    runtime::WriteLn();
    runtime::WriteString("Cannot write file ");
    runtime::WriteString(shared.failedFile.load() == FailedFile::wav ? names.wav.data()
                                                                     : names.c2.data());
    runtime::WriteString(": ");
    runtime::WriteString(runtime::OsErrorText(shared.failedError));
    runtime::WriteString("! The files end where writing stopped.");
}

}  // namespace

ExtractOutcome ExtractDisc(std::int32_t firstSector, std::int32_t endSector,
                           drive::DriveRecord& drive, SlotPool& pool) {
    switch (DetectC2ModeSettled(drive, firstSector)) {
        case audio::C2Search::found:
            break;
        case audio::C2Search::noForm:
            WriteLine("No matching C2 mode found!");
            return ExtractOutcome::done;
        case audio::C2Search::unreadable:
            // The drive took a form but could not read the disc where it was tried: not the
            // drive's fault, and nothing would be read either.
            WriteLine("The disc could not be read where the C2 modes are tested!");
            return ExtractOutcome::discUnreadable;
    }
    drive::InquiryResult inquiry;
    drive::InquireDevice(inquiry, drive);
    const OutputNames names = MakeOutputNames(inquiry.productName.data());
    return ExtractPass(names, firstSector, endSector, drive, pool, DriveLoss::readOn).outcome;
}

PassReport ExtractPass(const OutputNames& names, std::int32_t firstSector, std::int32_t endSector,
                       drive::DriveRecord& drive, SlotPool& pool, DriveLoss loss) {
    PassReport report;
    shared.failedFile.store(FailedFile::none);
    shared.audioBytesWritten = 0;
    shared.c2BytesWritten = 0;
    if (!CreateOutputFiles(names)) {
        CloseOutputFiles();
        WriteLine("Cannot create file!");
        report.outcome = ExtractOutcome::outputFailed;
        return report;
    }
    wav::StoreWavHeader(shared.wavFile, 0);
    if (shared.wavFile.result != 0) {
        shared.RecordFailure(FailedFile::wav, shared.wavFile.result);
        CloseOutputFiles();
        ReportWriteFailure(names);
        return Failed(report);
    }
    shared.pool = &pool;
    runtime::Thread* writer = nullptr;
    pool.writerDoneEvent->Reset();
    pool.MarkWriterRunning(true);
    if (!runtime::StartThread(writer, WriterThread, reinterpret_cast<std::intptr_t>(&shared),
                              writerStackSize, true)) {
        pool.MarkWriterRunning(false);
        CloseOutputFiles();
        WriteLine("Cannot start the writer thread!");
        report.outcome = ExtractOutcome::outputFailed;
        return report;
    }

    ReadFailures failures;
    drive.waitedInVain = false;  // each pass waits for a pause anew
    const std::int64_t dataRead =
        ReadAllChunks(pool, drive, firstSector, endSector, loss, failures);
    SendEndMarker(pool);
    pool.writerDoneEvent->Wait();
    std::int32_t writerResult = 0;
    (void)runtime::WaitThread(writer, runtime::waitForever, writerResult);
    pool.MarkWriterRunning(false);

    const bool writeFailed = WriteFailed();  // the writer is done: nothing changes it now
    const std::int64_t dataKept = writeFailed ? CutToWholeSectors() : dataRead;
    wav::StoreWavHeader(shared.wavFile, dataKept);
    if (!writeFailed && shared.wavFile.result != 0) {
        shared.RecordFailure(FailedFile::wav, shared.wavFile.result);
    }
    CloseOutputFiles();
    ReportReadFailures(failures);
    ReportSlowReads(failures.times);
    report.sectorsWritten =
        static_cast<std::int32_t>(dataKept / static_cast<std::int64_t>(audioBytesPerSector));
    report.failedSectors = failures.sectors;
    report.driveLost = failures.driveLost;
    report.lostAtSector = failures.lostAtSector;
    report.lostAsc = failures.lostAsc;
    report.readTimes = failures.times;
    report.audioBytesRead = dataRead;
    if (WriteFailed()) {
        ReportWriteFailure(names);
        return Failed(report);
    }
    return report;
}

}  // namespace extract
