#include "extract/study.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "audio/c2_read.h"
#include "audio/commands.h"
#include "drive/aspi_proc.h"
#include "drive/drive_layer.h"
#include "drive/inquiry.h"
#include "extract/extract_disc.h"
#include "extract/file_names.h"
#include "extract/study_file.h"
#include "runtime/console.h"
#include "runtime/error.h"
#include "runtime/clock.h"
#include "runtime/file_channel.h"
#include "runtime/sha256.h"

namespace extract {
namespace {

// Form names by c2Method.
constexpr std::array<std::string_view, 4> formNames{"readcd14", "d8", "density", "readcd12"};
constexpr std::array<std::int32_t, 4> studyOrder{audio::c2ReadCdWithBlockError, audio::c2VendorD8,
                                                 audio::c2DensitySwitch, audio::c2ReadCd};

// Lets a pool tell physical units apart without publishing anyone's serial number.
std::optional<std::string> UnitHash(const std::optional<std::string>& serial) {
    if (!serial) {
        return std::nullopt;
    }
    const std::string salted = "marrowby-unit:" + *serial;
    return runtime::Sha256Hex(
        std::span(reinterpret_cast<const std::uint8_t*>(salted.data()), salted.size()));
}

void WriteLine(std::string_view text) {
    runtime::WriteString(text);
    runtime::WriteLn();
}

struct PlannedPass {
    std::int32_t method = 0;
    const StudySpeed* speed = nullptr;  // null: the drive's own speed
};

class Study {
public:
    Study(drive::DriveRecord& drive, std::int32_t endSector, SlotPool& pool)
        : drive_(drive), endSector_(endSector), pool_(pool) {}

    std::int32_t Run(std::span<const StudySpeed> speeds);

private:
    [[nodiscard]] bool Identify();
    [[nodiscard]] std::vector<PlannedPass> Plan(std::span<const StudySpeed> speeds) const;
    void SetSpeed(const PlannedPass& planned, StudyPass& pass);
    // False when the study must stop: an output file could not be made or written.
    [[nodiscard]] bool ReadPass(const PlannedPass& planned, std::size_t number, std::size_t count);
    void AnnouncePass(const StudyPass& pass, std::size_t number, std::size_t count) const;
    [[nodiscard]] bool Save();
    void LeaveDriveAsFound();

    drive::DriveRecord& drive_;
    std::int32_t endSector_;
    SlotPool& pool_;
    audio::C2FormsFound found_;
    std::string productName_;
    std::string studyFile_;
    StudyRecord record_;
    bool speedChanged_ = false;
    bool saved_ = false;  // the study file says what the last pass did
};

bool Study::Identify() {
    found_ = audio::FindEveryC2Form(0, drive_);
    if (!found_.Any()) {
        WriteLine(found_.unreadable ? "The disc could not be read where the C2 modes are tested!"
                                    : "No matching C2 mode found!");
        return false;
    }
    drive::InquiryResult inquiry;
    drive::InquireDevice(inquiry, drive_);
    productName_ = inquiry.ProductName();
    record_.vendor = inquiry.Vendor();
    record_.product = inquiry.Product();
    record_.revision = inquiry.Revision();
    if (const auto vendorSpecific = inquiry.VendorSpecific()) {
        record_.vendorSpecific = std::string(*vendorSpecific);
    }
    record_.unit = UnitHash(drive::InquireUnitSerial(drive_));
    record_.transport = drive::native::BusName(drive::DriveBus(drive_));
    studyFile_ = MakeOutputNames(productName_, ".study").wav.data();
    studyFile_.replace(studyFile_.size() - 4, 4, ".json");
    runtime::WriteString("Forms found:");
    for (const std::int32_t method : studyOrder) {
        if (found_.byMethod[static_cast<std::size_t>(method)]) {
            record_.formsFound.emplace_back(formNames[static_cast<std::size_t>(method)]);
            runtime::WriteString(record_.formsFound.size() == 1 ? " " : ", ");
            runtime::WriteString(record_.formsFound.back());
        }
    }
    runtime::WriteLn();
    return true;
}

std::vector<PlannedPass> Study::Plan(std::span<const StudySpeed> speeds) const {
    std::vector<PlannedPass> plan;
    for (const std::int32_t method : studyOrder) {
        if (!found_.byMethod[static_cast<std::size_t>(method)]) {
            continue;
        }
        if (speeds.empty()) {
            plan.push_back({method, nullptr});
        }
        for (const StudySpeed& speed : speeds) {
            plan.push_back({method, &speed});
        }
    }
    return plan;
}

// A drive that refuses SET CD SPEED is read at its own speed; the pass says so.
void Study::SetSpeed(const PlannedPass& planned, StudyPass& pass) {
    if (planned.speed != nullptr) {
        pass.speedRequested = planned.speed->text;
        pass.speedSet = audio::SetReadSpeed(planned.speed->kBps, drive_);
        speedChanged_ = speedChanged_ || planned.speed->kBps != fastestReadSpeed;
    }
    pass.speedReportedKBps = audio::CurrentReadSpeed(drive_);
}

void Study::AnnouncePass(const StudyPass& pass, std::size_t number, std::size_t count) const {
    runtime::WriteString("Pass ");
    runtime::WriteInt(static_cast<std::int32_t>(number), 0);
    runtime::WriteString(" of ");
    runtime::WriteInt(static_cast<std::int32_t>(count), 0);
    runtime::WriteString(": ");
    runtime::WriteString(pass.form);
    if (pass.speedRequested) {
        runtime::WriteString(" at ");
        runtime::WriteString(*pass.speedRequested);
        if (!pass.speedSet) {
            runtime::WriteString(" (speed not set)");
        }
    }
    if (pass.speedReportedKBps) {
        runtime::WriteString(", the drive reports ");
        runtime::WriteInt(static_cast<std::int32_t>(*pass.speedReportedKBps), 0);
        runtime::WriteString(" kB/s");
    }
    WriteLine(", into " + pass.wav);
}

std::string DriveLostText(const PassReport& report) {
    return std::string(report.lostAsc == drive::ascMediumNotPresent
                           ? "The disc was removed"
                           : "The drive stopped answering") +
           " at sector " + std::to_string(report.lostAtSector) + ".";
}

double Seconds(runtime::Microseconds time) {
    return std::chrono::duration<double>(time).count();
}

void NoteReadTimes(const PassReport& report, StudyPass& pass) {
    const ReadTimes& times = report.readTimes;
    if (times.inReads.count() > 0) {
        pass.measuredKBps = static_cast<double>(report.audioBytesRead) / 1000.0 /
                            Seconds(times.inReads);
    }
    pass.slowReads = times.slowReads;
    pass.slowestSeconds = Seconds(times.slowest);
    pass.slowestSector = times.slowestSector;
}

bool Study::ReadPass(const PlannedPass& planned, std::size_t number, std::size_t count) {
    StudyPass pass;
    pass.form = formNames[static_cast<std::size_t>(planned.method)];
    SetSpeed(planned, pass);
    const std::string suffix =
        "." + pass.form + (planned.speed != nullptr ? "." + planned.speed->text : std::string());
    const OutputNames names = MakeOutputNames(productName_, suffix);
    pass.wav = names.wav.data();
    pass.c2 = names.c2.data();
    AnnouncePass(pass, number, count);

    drive_.c2Method = planned.method;
    runtime::Clock& clock = runtime::CurrentClock();
    const runtime::Microseconds start = clock.Now();
    const PassReport report = ExtractPass(names, 0, endSector_, drive_, pool_, DriveLoss::stopPass);
    pass.seconds = Seconds(clock.Now() - start);
    NoteReadTimes(report, pass);
    audio::RestoreDataDensity(drive_);
    runtime::WriteLn();  // ends the progress line, or follows a message

    pass.sectors = report.sectorsWritten;
    pass.failedSectors = report.failedSectors;
    pass.completed = report.outcome == ExtractOutcome::done && !report.driveLost;
    if (report.driveLost) {
        pass.error = DriveLostText(report);
        WriteLine(*pass.error + " The pass ends there; its files hold the sectors before it.");
    } else if (report.outcome != ExtractOutcome::done) {
        pass.error =
            report.failedFile == FailedFile::none
                ? std::string("Cannot create file!")
                : "Cannot write file " +
                      std::string(report.failedFile == FailedFile::wav ? pass.wav : pass.c2) +
                      ": " + std::string(runtime::OsErrorText(report.osError)) + "!";
    }
    record_.passes.push_back(std::move(pass));
    return report.outcome == ExtractOutcome::done;
}

bool Study::Save() {
    saved_ = WriteStudyFile(record_, studyFile_);
    if (!saved_) {
        WriteLine("Cannot write file " + studyFile_ + "!");
    }
    return saved_;
}

// Data discs want 2,048-byte blocks; a slowed drive gets its full speed back.
void Study::LeaveDriveAsFound() {
    audio::RestoreDataDensity(drive_);
    if (speedChanged_) {
        (void)audio::SetReadSpeed(fastestReadSpeed, drive_);
    }
}

std::int32_t Study::Run(std::span<const StudySpeed> speeds) {
    if (!Identify()) {
        audio::RestoreDataDensity(drive_);
        return found_.unreadable ? 1 : 0;
    }
    const std::vector<PlannedPass> plan = Plan(speeds);
    bool going = Save();
    for (std::size_t i = 0; going && i < plan.size(); ++i) {
        going = ReadPass(plan[i], i + 1, plan.size());
        going = Save() && going;
    }
    LeaveDriveAsFound();
    std::size_t completed = 0;
    for (const StudyPass& pass : record_.passes) {
        completed += pass.completed ? 1 : 0;
    }
    runtime::WriteInt(static_cast<std::int32_t>(completed), 0);
    runtime::WriteString(" of ");
    runtime::WriteInt(static_cast<std::int32_t>(plan.size()), 0);
    // The closing line names the study file only when it holds the study.
    runtime::WriteString(saved_ ? " passes completed; the study is in " + studyFile_
                                : std::string(" passes completed."));
    return completed == plan.size() ? 0 : 1;
}

}  // namespace

std::int32_t RunStudy(drive::DriveRecord& drive, std::int32_t endSector, SlotPool& pool,
                      std::span<const StudySpeed> speeds) {
    Study study(drive, endSector, pool);
    return study.Run(speeds);
}

}  // namespace extract
