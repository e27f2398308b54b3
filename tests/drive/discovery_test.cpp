// Discovery and the command cycle through each path: the native layer over simulated devices
// and the simulated manager run in-process, with requests that complete early and late.
#include <gtest/gtest.h>

#include <string>

#include "drive/inquiry.h"
#include "manager_server.h"
#include "tests/drive/drive_fixture.h"

namespace drive_tests {
namespace {

using Pairs = std::vector<std::pair<std::int32_t, std::int32_t>>;

// --- Native path ---

TEST_F(NativeLayerTest, TableFollowsAdaptersThenTargetsNotTheDeviceOrder) {
    AddDevice(At(1, 1), "B");
    AddDevice(At(1, 0), "A");
    AddDevice(At(0, 3), "C");
    ASSERT_EQ(Start(), drive::TransportKind::native);
    EXPECT_EQ(Addresses(Discover()), (Pairs{{0, 3}, {1, 0}, {1, 1}}));
}

TEST_F(NativeLayerTest, PortTwoTargetEightIsFoundBecauseSixteenTargetsAreScanned) {
    AddDevice(At(2, 8));
    ASSERT_EQ(Start(), drive::TransportKind::native);
    EXPECT_EQ(Addresses(Discover()), (Pairs{{2, 8}}));
}

TEST_F(NativeLayerTest, DriveWithoutDiscCountsBlankIdentificationDoesNot) {
    AddDevice(At(0, 0), "EMPTY TRAY", false);
    drives_.push_back(MakeDrive("", true, ""));
    SimulatedDevice blank;
    blank.path = "/dev/blank";
    blank.drive = drives_.back().get();
    blank.address = At(0, 1);
    os_.devices.push_back(blank);
    AddDevice(At(0, 2), "LAST");
    ASSERT_EQ(Start(), drive::TransportKind::native);
    EXPECT_EQ(Addresses(Discover()), (Pairs{{0, 0}, {0, 2}}));
}

TEST_F(NativeLayerTest, DiscoveryLeavesTheSettingsForResetDriveSettings) {
    AddDevice(At(0, 0));
    ASSERT_EQ(Start(), drive::TransportKind::native);
    std::vector<drive::DriveRecord> table = Discover();
    ASSERT_EQ(table.size(), 1U);
    EXPECT_EQ(table[0].c2Method, 0);
    EXPECT_FALSE(table[0].rezeroAfterRead);
    EXPECT_FALSE(table[0].rawTocBcd);
    drive::ResetDriveSettings(table);
    EXPECT_FALSE(table[0].rezeroAfterRead);
    EXPECT_TRUE(table[0].rawTocBcd);
}

TEST_F(NativeLayerTest, AnUnavailableNativePathGivesNoPathAndNoDrive) {
    AddDevice(At(0, 0));
    AddDevice(At(0, 1)).openable = false;
    EXPECT_EQ(Start(), drive::TransportKind::none);
    std::vector<drive::DriveRecord> table(drive::maxDrives);
    std::int32_t count = -1;
    EXPECT_EQ(drive::DiscoverDrives(count, drive::maxDrives, table), aspi::statusFailedInit);
    EXPECT_EQ(count, 0);
    drive::ScsiCommand command;
    const std::array<std::uint8_t, 6> cdb{};
    command.cdb = cdb;
    EXPECT_EQ(drive::CommandCycle({0, 0, 0}, command, [](auto&&, auto&&) {}).status,
              aspi::statusFailedInit);
}

// --- A manager library's entry points, served in-process ---

standin::ManagerServer* server = nullptr;

extern "C" std::uint32_t ServerSupportInfo() {
    return server->SupportInfo();
}
extern "C" std::uint32_t ServerSend(void* block) {
    return server->Send(block);
}
extern "C" std::uint32_t ServerSendMinusOne(void* block) {
    return server->Send(block) - 1;
}

simdrive::DriveSet Described(const std::string& text) {
    std::string error;
    auto set = simdrive::DriveSet::Parse(text, ".", {}, "test", error);
    EXPECT_TRUE(set.has_value()) << error;
    return std::move(*set);
}

std::string DriveAt(int adapter, int target, const std::string& product, int lun = 0) {
    return "[drive]\nadapter = " + std::to_string(adapter) +
           "\ntarget = " + std::to_string(target) + "\nlun = " + std::to_string(lun) +
           "\nproduct = \"" + product + "\"\ndisc = none\n";
}

class ManagerPath : public NativeLayerTest {
protected:
    void Serve(const std::string& description, standin::Completion completion,
               bool alternative = false) {
        manager_.emplace(Described(description), completion);
        server = &*manager_;
        Start();
        drive::TransportPaths paths;
        const drive::ManagerEntries entries{ServerSupportInfo,
                                            alternative ? ServerSendMinusOne : ServerSend};
        (alternative ? paths.alternative : paths.aspi) = entries;
        ASSERT_EQ(drive::SelectTransport(paths), alternative
                                                     ? drive::TransportKind::alternativeManager
                                                     : drive::TransportKind::aspiManager);
    }
    void TearDown() override {
        drive::StopDriveLayer();
        manager_.reset();
        server = nullptr;
    }
    std::optional<standin::ManagerServer> manager_;
};

TEST_F(ManagerPath, FewerThanEightTargetsReportedStillScansEight) {
    Serve(DriveAt(0, 5, "FIVE"), standin::Completion::late);
    EXPECT_EQ(Addresses(Discover()), (Pairs{{0, 5}}));
}

TEST_F(ManagerPath, OnlyLunZeroIsExamined) {
    Serve(DriveAt(0, 1, "LUN ONE", 1) + DriveAt(0, 2, "LUN ZERO"), standin::Completion::late);
    EXPECT_EQ(Addresses(Discover()), (Pairs{{0, 2}}));
}

TEST_F(ManagerPath, MoreThanSixteenDrivesKeepTheFirstSixteenInTableOrder) {
    std::string description;
    for (int i = 0; i < 18; ++i) {
        description += DriveAt(1 - i / 9, i % 9, "DRIVE " + std::to_string(i));
    }
    Serve(description, standin::Completion::late);
    std::vector<drive::DriveRecord> table(drive::maxDrives);
    std::int32_t count = -1;
    EXPECT_EQ(drive::DiscoverDrives(count, drive::maxDrives, table), 0);
    ASSERT_EQ(count, 16);
    EXPECT_EQ(table[0].adapter, 0);
    EXPECT_EQ(table[8].adapter, 0);
    EXPECT_EQ(table[8].target, 8);
    EXPECT_EQ(table[15].adapter, 1);
    EXPECT_EQ(table[15].target, 6);
}

TEST_F(ManagerPath, TheAlternativeManagersSendResultIsCorrected) {
    Serve(DriveAt(0, 0, "ALT") + DriveAt(0, 1, "ALT TWO"), standin::Completion::late, true);
    EXPECT_EQ(Addresses(Discover()), (Pairs{{0, 0}, {0, 1}}));
}

TEST_F(ManagerPath, AManagerThatFailedToStartGivesItsStatusAndNoDrive) {
    manager_.emplace(std::nullopt, standin::Completion::late);
    server = &*manager_;
    Start();
    drive::TransportPaths paths;
    paths.aspi = {ServerSupportInfo, ServerSend};
    drive::SelectTransport(paths);
    std::vector<drive::DriveRecord> table(drive::maxDrives);
    std::int32_t count = -1;
    EXPECT_EQ(drive::DiscoverDrives(count, drive::maxDrives, table), aspi::statusFailedInit);
    EXPECT_EQ(count, 0);
}

// A request completed before its send returns leaves the event signalled; the next request
// must still wait for its own completion.
class CompletionTiming : public ManagerPath,
                         public testing::WithParamInterface<standin::Completion> {};

TEST_P(CompletionTiming, EveryCommandSeesItsOwnReply) {
    Serve(DriveAt(0, 0, "FIRST") + DriveAt(0, 1, "SECOND") + DriveAt(0, 2, "THIRD"), GetParam());
    const std::array<std::string, 3> names{"SIMDRIVEFIRST", "SIMDRIVESECOND", "SIMDRIVETHIRD"};
    for (int i = 0; i < 30; ++i) {
        drive::InquiryResult inquiry;
        drive::InquireDevice(inquiry, {0, i % 3, 0});
        ASSERT_EQ(inquiry.ProductName(), names[static_cast<std::size_t>(i % 3)]) << i;
    }
    EXPECT_EQ(Discover().size(), 3U);
}

std::string CompletionName(const testing::TestParamInfo<standin::Completion>& info) {
    switch (info.param) {
        case standin::Completion::late:
            return "Late";
        case standin::Completion::early:
            return "Early";
        case standin::Completion::alternate:
            break;
    }
    return "Alternate";
}

INSTANTIATE_TEST_SUITE_P(Managers, CompletionTiming,
                         testing::Values(standin::Completion::late, standin::Completion::early,
                                         standin::Completion::alternate),
                         CompletionName);

TEST(TransportChoice, PreferenceIsFirstManagerThenAlternativeThenNative) {
    const drive::ManagerEntries loaded{ServerSupportInfo, ServerSend};
    drive::TransportPaths both{loaded, loaded, nullptr};
    EXPECT_EQ(drive::ChooseTransport(both), drive::TransportKind::aspiManager);
    drive::TransportPaths alternativeOnly{{}, loaded, nullptr};
    EXPECT_EQ(drive::ChooseTransport(alternativeOnly), drive::TransportKind::alternativeManager);
    EXPECT_EQ(drive::ChooseTransport({}), drive::TransportKind::none);
}

}  // namespace
}  // namespace drive_tests
