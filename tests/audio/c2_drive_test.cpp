// C2 reads and C2-mode detection against simulated drives over the drive layer's native path.
#include <gtest/gtest.h>

#include <vector>

#include "audio/c2_read.h"
#include "simdrive/scsi.h"
#include "tests/audio/simulated_machine.h"

namespace {

using audio_testing::SentCommand;
using audio_testing::SimulatedMachine;
using Bytes = std::vector<std::uint8_t>;

constexpr std::int32_t first = 100;
constexpr std::int32_t count = 24;

// Every C2 form, honest pointers, a scratch over the sectors read and one unreadable sector.
const char* const everyForm =
    "[drive]\nadapter = 1\ntarget = 0\nvendor_d8 = 0x00 0x04\ndensity_c2 = yes\n"
    "disc = pattern 1000 9\ndamage_seed = 5\nscratch = 105 10 0.05 4\nunreadable = 300\n";

struct Buffers {
    std::vector<std::byte> c2 = std::vector<std::byte>(9408, std::byte{0x5A});
    std::vector<std::byte> audio = std::vector<std::byte>(32 * 2352, std::byte{0x5A});
};

// What the simulated drive delivers for `sector`: its audio (READ CD without C2) and the flags
// of its own bytes.
Bytes DeliveredAudio(simdrive::Drive& drive, std::int32_t sector) {
    Bytes audio(2352);
    Bytes sense(18);
    const Bytes cdb{0xBE,
                    0x04,
                    0,
                    0,
                    static_cast<std::uint8_t>(sector >> 8),
                    static_cast<std::uint8_t>(sector),
                    0,
                    0,
                    1,
                    0x10,
                    0,
                    0};
    EXPECT_EQ(drive.Execute(cdb, simdrive::Direction::in, audio, sense).status, 0);
    return audio;
}

struct ModeCase {
    std::int32_t method;
    Bytes cdb;
    std::uint32_t wireBytes;
};

class C2ReadModes : public testing::TestWithParam<ModeCase> {};

TEST_P(C2ReadModes, SendsItsCommandAndSplitsEverySectorIntoAudioAndRecord) {
    SimulatedMachine machine(everyForm);
    drive::DriveRecord& record = machine.Record(0);
    record.c2Method = GetParam().method;
    Buffers buffers;
    ASSERT_TRUE(audio::ReadAudioC2(buffers.c2, buffers.audio, count, first, record));

    const std::vector<SentCommand> log = machine.TakeLog();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().cdb, GetParam().cdb);
    EXPECT_EQ(log.back().direction, drive::DataDirection::in);
    EXPECT_EQ(log.back().length, GetParam().wireBytes);
    if (GetParam().method == 2) {
        ASSERT_EQ(log.size(), 2u);
        EXPECT_EQ(log[0].cdb, (Bytes{0x15, 0, 0, 0, 0x0C, 0}));
        EXPECT_EQ(log[0].dataOut, (Bytes{0, 0, 0, 8, 0x82, 0, 0, 0, 0, 0, 0x0A, 0x56}));
    } else {
        EXPECT_EQ(log.size(), 1u);
    }

    std::size_t flaggedSectors = 0;
    for (std::int32_t i = 0; i < count; ++i) {
        const auto at = static_cast<std::size_t>(i);
        const Bytes expected = DeliveredAudio(machine.Simulated(0), first + i);
        ASSERT_TRUE(std::equal(expected.begin(), expected.end(),
                               reinterpret_cast<const std::uint8_t*>(&buffers.audio[at * 2352])))
            << "sector " << i;
        const simdrive::SectorTruth truth = machine.Simulated(0).Truth(first + i);
        std::uint8_t any = 0;
        for (std::size_t k = 0; k < 294; ++k) {
            ASSERT_EQ(std::to_integer<std::uint8_t>(buffers.c2[at * 296 + k]), truth.flagged[k])
                << "sector " << i << " byte " << k;
            any |= truth.flagged[k];
        }
        EXPECT_EQ(std::to_integer<std::uint8_t>(buffers.c2[at * 296 + 294]), any);
        EXPECT_EQ(buffers.c2[at * 296 + 295], std::byte{0});
        flaggedSectors += any != 0 ? 1 : 0;
    }
    EXPECT_GT(flaggedSectors, 0u);  // the scratch made the comparison mean something
    EXPECT_EQ(buffers.c2[count * 296], std::byte{0x5A});
    EXPECT_EQ(buffers.audio[count * 2352], std::byte{0x5A});
}

INSTANTIATE_TEST_SUITE_P(
    EachMode, C2ReadModes,
    testing::Values(ModeCase{0, {0xBE, 0x04, 0, 0, 0, 100, 0, 0, 24, 0x14, 0, 0}, 24 * 2648},
                    ModeCase{1, {0xD8, 0, 0, 0, 0, 100, 0, 0, 0, 24, 0x04, 0}, 24 * 2646},
                    ModeCase{2, {0x28, 0, 0, 0, 0, 100, 0, 0, 24, 0}, 24 * 2646},
                    ModeCase{3, {0xBE, 0x04, 0, 0, 0, 100, 0, 0, 24, 0x12, 0, 0}, 24 * 2646}),
    [](const testing::TestParamInfo<ModeCase>& info) {
        return "Mode" + std::to_string(info.param.method);
    });

TEST(C2Read, ZeroSectorsSendACommandWithoutDataAndWriteNothing) {
    SimulatedMachine machine(everyForm);
    machine.Record(0).c2Method = 0;
    Buffers buffers;
    EXPECT_TRUE(audio::ReadAudioC2(buffers.c2, buffers.audio, 0, first, machine.Record(0)));
    const std::vector<SentCommand> log = machine.TakeLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].cdb, (Bytes{0xBE, 0x04, 0, 0, 0, 100, 0, 0, 0, 0x14, 0, 0}));
    EXPECT_EQ(log[0].length, 0u);
    EXPECT_EQ(buffers.c2, Buffers{}.c2);
    EXPECT_EQ(buffers.audio, Buffers{}.audio);
}

TEST(C2Read, FailedReadStillSplitsWhatArrivedAndZerosTheRest) {
    SimulatedMachine machine(everyForm);
    machine.Record(0).c2Method = 1;
    Buffers buffers;
    // Sector 300 is unreadable: sectors 290..299 arrive, the rest of the transfer stays zero.
    EXPECT_FALSE(audio::ReadAudioC2(buffers.c2, buffers.audio, count, 290, machine.Record(0)));
    const Bytes tenth = DeliveredAudio(machine.Simulated(0), 299);
    EXPECT_TRUE(std::equal(tenth.begin(), tenth.end(),
                           reinterpret_cast<const std::uint8_t*>(&buffers.audio[9 * 2352])));
    for (std::size_t i = 10; i < count; ++i) {
        for (std::size_t j = 0; j < 2352; ++j) {
            ASSERT_EQ(buffers.audio[i * 2352 + j], std::byte{0}) << i;
        }
        for (std::size_t k = 0; k < 296; ++k) {
            ASSERT_EQ(buffers.c2[i * 296 + k], std::byte{0}) << i;
        }
    }
}

// Some drives (and emulations) answer GOOD having moved less than a whole block each.
TEST(C2Read, AReadAnsweredShortHasFailed) {
    SimulatedMachine machine(std::string(everyForm) + "short_transfer = 0xD8 10000\n");
    machine.Record(0).c2Method = 1;
    Buffers buffers;
    EXPECT_FALSE(audio::ReadAudioC2(buffers.c2, buffers.audio, count, first, machine.Record(0)));
    EXPECT_TRUE(audio::ReadAudioC2(buffers.c2, buffers.audio, 3, first, machine.Record(0)));
}

TEST(C2Detection, AProbeAnsweredShortDoesNotFindTheForm) {
    SimulatedMachine machine(
        "[drive]\nadapter = 1\ntarget = 0\nread_cd = none\ndensity_c2 = yes\n"
        "short_transfer = 0x28 2048\ndisc = pattern 100 1\n");
    EXPECT_FALSE(audio::DetectC2Mode(0, machine.Record(0)));
    EXPECT_EQ(machine.Record(0).c2Method, -1);
}

TEST(C2Read, NoC2MethodSendsNothing) {
    SimulatedMachine machine(everyForm);
    machine.Record(0).c2Method = -1;
    Buffers buffers;
    EXPECT_FALSE(audio::ReadAudioC2(buffers.c2, buffers.audio, count, first, machine.Record(0)));
    EXPECT_TRUE(machine.TakeLog().empty());
    EXPECT_EQ(buffers.audio, Buffers{}.audio);
}

TEST(C2Read, RezeroUnitFollowsTheReadWhenAsked) {
    SimulatedMachine machine(everyForm);
    machine.Record(0).c2Method = 3;
    machine.Record(0).rezeroAfterRead = true;
    Buffers buffers;
    EXPECT_TRUE(audio::ReadAudioC2(buffers.c2, buffers.audio, 1, first, machine.Record(0)));
    const std::vector<SentCommand> log = machine.TakeLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1].cdb, (Bytes{0x01, 0, 0, 0, 0, 0}));
    EXPECT_EQ(log[1].direction, drive::DataDirection::none);
}

TEST(C2ReadDeathTest, MoreThan42SectorsOrTooSmallBuffersAreProgrammingErrors) {
    drive::DriveRecord record;
    Buffers buffers;
    std::vector<std::byte> bigAudio(43 * 2352);
    std::vector<std::byte> bigC2(43 * 296);
    EXPECT_EXIT((void)audio::ReadAudioC2(bigC2, bigAudio, 43, 0, record),
                testing::ExitedWithCode(255), "-> ASSIGN-RANGE");
    EXPECT_EXIT((void)audio::ReadAudioC2(std::span(buffers.c2).first(24 * 296 - 1), buffers.audio,
                                         24, 0, record),
                testing::ExitedWithCode(255), "-> INDEX-RANGE");
}

struct DetectionCase {
    const char* file;
    std::int32_t method;
    std::vector<Bytes> commands;  // operation code and the byte that tells the form apart
};

// The log reduced to each command's operation code and its form byte.
std::vector<Bytes> Forms(const std::vector<SentCommand>& log) {
    std::vector<Bytes> forms;
    for (const SentCommand& command : log) {
        const std::uint8_t code = command.cdb[0];
        const std::uint8_t form = code == 0xBE   ? command.cdb[9]
                                  : code == 0xD8 ? command.cdb[10]
                                                 : 0;
        forms.push_back({code, form});
    }
    return forms;
}

class C2Detection : public testing::TestWithParam<DetectionCase> {};

TEST_P(C2Detection, TriesTheFormsInOrderAndKeepsTheFirstThatReads) {
    SimulatedMachine machine(audio_testing::ShippedDescription(GetParam().file),
                             audio_testing::SmallWavImage());
    drive::DriveRecord& record = machine.Record(0);
    EXPECT_EQ(audio::DetectC2Mode(0, record), GetParam().method >= 0);
    EXPECT_EQ(record.c2Method, GetParam().method);
    EXPECT_EQ(Forms(machine.TakeLog()), GetParam().commands);
}

const Bytes inquiry{0x12, 0};
const Bytes sense6{0x1A, 0};
const Bytes sense10{0x5A, 0};
const Bytes select{0x15, 0};
const Bytes read10{0x28, 0};
const Bytes readCd14{0xBE, 0x14};
const Bytes readCd12{0xBE, 0x12};
const Bytes d8{0xD8, 0x04};

INSTANTIATE_TEST_SUITE_P(
    ShippedDrives, C2Detection,
    testing::Values(DetectionCase{"all-c2-forms.drive", 0, {inquiry, sense6, readCd14}},
                    // No MODE SENSE(6), C2 bit clear: straight on to 0xD8.
                    DetectionCase{"d8-only.drive", 1, {inquiry, sense6, sense10, d8}},
                    DetectionCase{
                        "density-c2.drive", 2, {inquiry, sense6, d8, select, select, read10}},
                    DetectionCase{"no-c2.drive", -1, {inquiry, sense6, d8, select, select, read10}},
                    // The model name alone decides: no capability query, never the 0x14 form.
                    DetectionCase{"plextor-style.drive", 3, {inquiry, readCd12}}),
    [](const testing::TestParamInfo<DetectionCase>& info) {
        std::string name = info.param.file;
        name = name.substr(0, name.find('.'));
        std::erase(name, '-');
        return name;
    });

TEST(C2Detection, FailedCapabilityQueryCountsAsNoC2Support) {
    SimulatedMachine machine(everyForm);
    machine.SetTamper(
        [](const SentCommand& sent, simdrive::CommandResult& result, std::span<std::uint8_t>) {
            if (sent.cdb[0] == 0x1A || sent.cdb[0] == 0x5A) {
                result.status = simdrive::status::checkCondition;
            }
        });
    EXPECT_TRUE(audio::DetectC2Mode(0, machine.Record(0)));
    EXPECT_EQ(machine.Record(0).c2Method, 1);
    EXPECT_EQ(Forms(machine.TakeLog()), (std::vector<Bytes>{inquiry, sense6, sense10, d8}));
}

TEST(C2Detection, PlextorNamedDriveWithoutTheShortFormGoesOnToTheOthers) {
    SimulatedMachine machine(
        "[drive]\nadapter = 1\ntarget = 0\nvendor = \"plextor \"\nproduct = \"cd-r   px-1\"\n"
        "read_cd = 0x10 0x14\ndensity_c2 = yes\ndisc = pattern 100 1\n");
    EXPECT_TRUE(audio::DetectC2Mode(0, machine.Record(0)));
    EXPECT_EQ(machine.Record(0).c2Method, 2);
    EXPECT_EQ(Forms(machine.TakeLog()),
              (std::vector<Bytes>{inquiry, readCd12, d8, select, select, read10}));
}

// The block-length switch is sent by detection and again by the mode-2 read it tests.
TEST(C2Detection, ADensityOnlyDriveReceivesTwoSwitchesBeforeTheProbe) {
    SimulatedMachine machine(
        "[drive]\nadapter = 1\ntarget = 0\nread_cd = none\ndensity_c2 = yes\n"
        "c2_pointer_bit = no\ndisc = pattern 100 1\n");
    EXPECT_TRUE(audio::DetectC2Mode(7, machine.Record(0)));
    EXPECT_EQ(machine.Record(0).c2Method, 2);
    const Bytes switchList{0, 0, 0, 8, 0x82, 0, 0, 0, 0, 0, 0x0A, 0x56};
    const std::vector<SentCommand> log = machine.TakeLog();
    ASSERT_EQ(log.size(), 6u);
    EXPECT_EQ(log[0].cdb, (Bytes{0x12, 0, 0, 0, 0x38, 0}));
    EXPECT_EQ(log[1].cdb, (Bytes{0x1A, 0x08, 0x2A, 0, 0x22, 0}));
    EXPECT_EQ(log[2].cdb, (Bytes{0xD8, 0, 0, 0, 0, 7, 0, 0, 0, 1, 0x04, 0}));
    for (const std::size_t i : {3U, 4U}) {
        EXPECT_EQ(log[i].cdb, (Bytes{0x15, 0, 0, 0, 0x0C, 0})) << i;
        EXPECT_EQ(log[i].direction, drive::DataDirection::out) << i;
        EXPECT_EQ(log[i].dataOut, switchList) << i;
    }
    EXPECT_EQ(log[5].cdb, (Bytes{0x28, 0, 0, 0, 0, 7, 0, 0, 1, 0}));
    EXPECT_EQ(log[5].length, 2646u);
}

TEST(C2Detection, LeavingTheDriveRestoresDataBlocksOnlyAfterASwitch) {
    SimulatedMachine machine(
        "[drive]\nadapter = 1\ntarget = 0\nread_cd = none\ndensity_c2 = yes\n"
        "disc = pattern 100 1\n[drive]\nadapter = 1\ntarget = 1\ndisc = pattern 100 1\n");
    ASSERT_TRUE(audio::DetectC2Mode(0, machine.Record(1)));  // READ CD: no switch
    (void)machine.TakeLog();
    audio::RestoreDataDensity(machine.Record(1));
    EXPECT_TRUE(machine.TakeLog().empty());
    ASSERT_TRUE(audio::DetectC2Mode(0, machine.Record(0)));
    (void)machine.TakeLog();
    audio::RestoreDataDensity(machine.Record(0));
    audio::RestoreDataDensity(machine.Record(0));  // once is enough
    const std::vector<SentCommand> log = machine.TakeLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].cdb, (Bytes{0x15, 0, 0, 0, 0x0C, 0}));
    EXPECT_EQ(log[0].dataOut, (Bytes{0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0x08, 0}));
}

// A scratch over the first sector: the form is found further on, or the disc is blamed.
TEST(C2Detection, AMediumErrorAtTheFirstSectorIsProbedAgainFurtherOn) {
    SimulatedMachine machine(
        "[drive]\nadapter = 1\ntarget = 0\ndisc = pattern 2000 1\nunreadable = 0 1 2 150\n");
    EXPECT_EQ(audio::FindC2Mode(0, machine.Record(0)), audio::C2Search::found);
    EXPECT_EQ(machine.Record(0).c2Method, 0);
    std::vector<std::uint32_t> probed;
    for (const SentCommand& sent : machine.TakeLog()) {
        if (sent.cdb[0] == 0xBE) {
            probed.push_back(static_cast<std::uint32_t>(sent.cdb[4]) << 8 | sent.cdb[5]);
        }
    }
    EXPECT_EQ(probed, (std::vector<std::uint32_t>{0, 150, 1500}));
}

TEST(C2Detection, MediumErrorsEverywhereProbedBlameTheDisc) {
    SimulatedMachine machine(
        "[drive]\nadapter = 1\ntarget = 0\nread_cd = none\nvendor_d8 = 0x04\n"
        "disc = pattern 20000 1\nunreadable = 0 150 1500 15000\n");
    EXPECT_EQ(audio::FindC2Mode(0, machine.Record(0)), audio::C2Search::unreadable);
    EXPECT_EQ(machine.Record(0).c2Method, -1);
}

TEST(C2Detection, RefusedFormsAreNotProbedFurtherOn) {
    SimulatedMachine machine(
        "[drive]\nadapter = 1\ntarget = 0\nread_cd = 0x10\n"
        "c2_pointer_bit = no\ndisc = pattern 2000 1\n");
    EXPECT_EQ(audio::FindC2Mode(0, machine.Record(0)), audio::C2Search::noForm);
    EXPECT_EQ(Forms(machine.TakeLog()),
              (std::vector<Bytes>{inquiry, sense6, d8, select, select, read10}));
}

}  // namespace
