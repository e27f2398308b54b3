// ReadToc with its capacity and session passes, against simulated drives over the drive
// layer's native path.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <vector>

#include "audio/toc.h"
#include "simdrive/scsi.h"
#include "tests/audio/simulated_machine.h"

namespace {

using audio::TocEntry;
using audio_testing::SentCommand;
using audio_testing::SimulatedMachine;

using Table = std::array<TocEntry, audio::tocEntries>;

std::string OneDrive(const std::string& disc) {
    return "[drive]\nadapter = 1\ntarget = 0\n" + disc;
}

struct TocRun {
    Table table{};
    std::int32_t count = -1;
    std::int32_t lastTrack = -1;
    std::int32_t firstTrack = -1;
    std::vector<SentCommand> log;
};

TocRun ReadTocOf(SimulatedMachine& machine) {
    TocRun run;
    EXPECT_EQ(machine.DriveCount(), 1);
    run.count = audio::ReadToc(run.table, run.lastTrack, run.firstTrack, machine.Record(0));
    run.log = machine.TakeLog();
    return run;
}

std::vector<std::int64_t> Starts(const TocRun& run) {
    std::vector<std::int64_t> starts;
    for (std::int32_t i = 0; i <= run.count; ++i) {
        starts.push_back(run.table[static_cast<std::size_t>(i)].startSector);
    }
    return starts;
}

std::vector<std::int64_t> Ends(const TocRun& run) {
    std::vector<std::int64_t> ends;
    for (std::int32_t i = 0; i < run.count; ++i) {
        ends.push_back(run.table[static_cast<std::size_t>(i)].endSector);
    }
    return ends;
}

bool Sent(const std::vector<SentCommand>& log, std::uint8_t operation) {
    for (const SentCommand& command : log) {
        if (command.cdb[0] == operation) {
            return true;
        }
    }
    return false;
}

std::size_t CountFullTocRequests(const std::vector<SentCommand>& log) {
    std::size_t count = 0;
    for (const SentCommand& command : log) {
        count += command.cdb[0] == 0x43 && (command.cdb[2] == 2 || command.cdb[9] == 0x80) ? 1 : 0;
    }
    return count;
}

TEST(ReadToc, SingleTrackDiscEndsAtTheDiscLength) {
    SimulatedMachine machine(OneDrive("disc = pattern 3000 1\n"));
    const TocRun run = ReadTocOf(machine);
    ASSERT_EQ(run.count, 1);
    EXPECT_EQ(run.table[0].track, 1);
    EXPECT_EQ(run.table[0].adr, 1);
    EXPECT_EQ(run.table[1].track, -1);
    EXPECT_EQ(Starts(run), (std::vector<std::int64_t>{0, 3000}));
    EXPECT_EQ(Ends(run), (std::vector<std::int64_t>{3000}));
    ASSERT_FALSE(run.log.empty());
    EXPECT_EQ(run.log[0].cdb, (std::vector<std::uint8_t>{0x43, 0, 0, 0, 0, 0, 0, 3, 0x24, 0}));
    EXPECT_EQ(run.log[0].length, 804u);
    EXPECT_FALSE(Sent(run.log, 0x25));  // a plausible lead-out needs no READ CAPACITY
}

TEST(ReadToc, MultiTrackDiscWithFirstAndLastTrackInTheirArguments) {
    SimulatedMachine machine(OneDrive("disc = pattern 4000 1\ntracks = 0 1000 2500\n"));
    const TocRun run = ReadTocOf(machine);
    ASSERT_EQ(run.count, 3);
    EXPECT_EQ(run.firstTrack, 1);
    EXPECT_EQ(run.lastTrack, 3);
    EXPECT_EQ(run.table[2].track, 3);
    EXPECT_EQ(Starts(run), (std::vector<std::int64_t>{0, 1000, 2500, 4000}));
    EXPECT_EQ(Ends(run), (std::vector<std::int64_t>{1000, 2500, 4000}));
}

// A drive whose lead-out descriptor says 460,000 (past 100 minutes) for a 3,000-sector disc.
void LeadOutPastAHundredMinutes(SimulatedMachine& machine, bool capacityFails) {
    machine.SetTamper([capacityFails](const SentCommand& sent, simdrive::CommandResult& result,
                                      std::span<std::uint8_t> data) {
        if (sent.cdb[0] == 0x43 && sent.cdb[2] == 0 && sent.cdb[9] == 0) {
            const std::size_t leadOut = 4 + 8 * 2 + 4;
            const std::array<std::uint8_t, 4> address{0x00, 0x07, 0x04, 0xE0};  // 460,000
            std::copy(address.begin(), address.end(), data.begin() + leadOut);
        }
        if (sent.cdb[0] == 0x25 && capacityFails) {
            std::fill(data.begin(), data.end(), 0);
            result.status = simdrive::status::checkCondition;
        }
    });
}

TEST(ReadToc, LeadOutPastAHundredMinutesComesFromTheCapacity) {
    SimulatedMachine machine(OneDrive("disc = pattern 3000 1\ntracks = 0 1000\n"));
    LeadOutPastAHundredMinutes(machine, false);
    const TocRun run = ReadTocOf(machine);
    ASSERT_EQ(run.count, 2);
    EXPECT_TRUE(Sent(run.log, 0x25));
    EXPECT_EQ(Starts(run), (std::vector<std::int64_t>{0, 1000, 3000}));
    EXPECT_EQ(Ends(run), (std::vector<std::int64_t>{1000, 3000}));
}

TEST(ReadToc, FailedCapacityKeepsTheTablesOwnLeadOut) {
    SimulatedMachine machine(OneDrive("disc = pattern 3000 1\ntracks = 0 1000\n"));
    LeadOutPastAHundredMinutes(machine, true);
    const TocRun run = ReadTocOf(machine);
    ASSERT_EQ(run.count, 2);
    EXPECT_EQ(run.table[2].startSector, 0);  // not a count of 1 from an empty reply
}

// A capacity no disc can have repairs nothing: the table keeps its own (unusable) lead-out.
TEST(ReadToc, ImplausibleCapacityIsNoLeadOut) {
    for (const char* lastLba : {"0xffffffff", "0x7fffffff", "1826199", "0xfffff"}) {
        SimulatedMachine machine(OneDrive(std::string("disc = pattern 3000 1\ntracks = 0 1000\n") +
                                          "capacity_last_lba = " + lastLba + "\n"));
        LeadOutPastAHundredMinutes(machine, false);
        const TocRun run = ReadTocOf(machine);
        ASSERT_EQ(run.count, 2);
        EXPECT_TRUE(Sent(run.log, 0x25));
        EXPECT_EQ(run.table[2].startSector, 0) << lastLba;
    }
}

TEST(ReadToc, AudioSessionThenDataSessionFromTheFullToc) {
    SimulatedMachine machine(
        OneDrive("disc = pattern 5000 1\ntracks = 0 2000\ndata_session = 3000\n"));
    machine.Record(0).rawTocBcd = true;
    const TocRun run = ReadTocOf(machine);
    ASSERT_EQ(run.count, 3);
    EXPECT_EQ(Starts(run), (std::vector<std::int64_t>{0, 2000, 16'400, 19'400}));
    EXPECT_EQ(Ends(run), (std::vector<std::int64_t>{2000, 5000, 19'400}));
    EXPECT_EQ(CountFullTocRequests(run.log), 1u);
    EXPECT_FALSE(machine.Record(0).rawTocBcd);  // binary addresses recognised and remembered
}

TEST(ReadToc, AudioSessionEnds11400BeforeTheDataSessionWithoutFullToc) {
    SimulatedMachine machine(
        OneDrive("full_toc = none\ndisc = pattern 5000 1\ntracks = 0 2000\ndata_session = 3000\n"));
    const TocRun run = ReadTocOf(machine);
    ASSERT_EQ(run.count, 3);
    EXPECT_EQ(Ends(run), (std::vector<std::int64_t>{2000, 16'400 - 11'400, 19'400}));
    EXPECT_EQ(CountFullTocRequests(run.log), 2u);  // both forms tried
    EXPECT_TRUE(machine.Record(0).rawTocBcd);      // nothing learnt
}

TEST(ReadToc, BcdFullTocInTheControlByteForm) {
    SimulatedMachine machine(
        OneDrive("full_toc = control\nfull_toc_bcd = yes\n"
                 "disc = pattern 5000 1\ntracks = 0 2000\ndata_session = 3000\n"));
    machine.Record(0).rawTocBcd = false;
    const TocRun run = ReadTocOf(machine);
    ASSERT_EQ(run.count, 3);
    EXPECT_EQ(CountFullTocRequests(run.log), 2u);
    EXPECT_TRUE(machine.Record(0).rawTocBcd);
    EXPECT_EQ(Ends(run), (std::vector<std::int64_t>{2000, 5000, 19'400}));
}

TEST(ReadToc, ReplyThatNeverReachesTheLastTrackFillsAHundredEntries) {
    std::string tracks = "tracks =";
    for (int i = 0; i < 98; ++i) {
        tracks.append(" ").append(std::to_string(i * 100));
    }
    SimulatedMachine machine(OneDrive("disc = pattern 20000 1\n" + tracks + "\n"));
    // A drive that names a last track it never lists.
    machine.SetTamper(
        [](const SentCommand& sent, simdrive::CommandResult&, std::span<std::uint8_t> data) {
            if (sent.cdb[0] == 0x43 && sent.cdb[2] == 0 && sent.cdb[9] == 0) {
                data[3] = 99;
            }
        });
    const TocRun run = ReadTocOf(machine);
    ASSERT_EQ(run.count, 100);
    EXPECT_EQ(run.lastTrack, 99);
    EXPECT_EQ(run.table[97].track, 98);
    EXPECT_EQ(run.table[98].track, 0xAA);  // the drive's own lead-out descriptor, as a track
    EXPECT_EQ(run.table[100].track, -1);
    EXPECT_EQ(run.table[101].track, 0);  // nothing written past the lead-out
}

TEST(ReadToc, NoDiscGivesZeroAndLeavesTheTable) {
    SimulatedMachine machine(OneDrive("disc = none\n"));
    Table table{};
    table[0].track = 42;
    std::int32_t last = -1;
    std::int32_t first = -1;
    EXPECT_EQ(audio::ReadToc(table, last, first, machine.Record(0)), 0);
    EXPECT_EQ(table[0].track, 42);
    const std::vector<SentCommand> log = machine.TakeLog();
    ASSERT_EQ(log.size(), 1u);  // no retry, nothing else
    EXPECT_EQ(log[0].cdb[0], 0x43);
}

}  // namespace
