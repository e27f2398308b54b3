// The native command path over simulated devices: numbering, the emulated manager answers,
// the worker ring and the status mapping.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "drive/inquiry.h"
#include "drive/native_scsi.h"
#include "tests/drive/drive_fixture.h"

namespace drive_tests {
namespace {

using Pairs = std::vector<std::pair<std::int32_t, std::int32_t>>;

Pairs NativeAddresses(const drive::NativeScsi& native) {
    Pairs addresses;
    for (const drive::NativeDevice& device : native.Devices()) {
        addresses.emplace_back(device.adapter, device.target);
    }
    return addresses;
}

aspi::SRB_HAInquiry AdapterInquiry(drive::NativeScsi& native, std::uint8_t adapter,
                                   std::uint32_t& answer) {
    aspi::SRB_HAInquiry inquiry{};
    inquiry.SRB_Cmd = aspi::commandHostAdapterInquiry;
    inquiry.SRB_HaId = adapter;
    answer = native.Send(&inquiry);
    return inquiry;
}

class NativeNumbering : public NativeLayerTest {
protected:
    drive::NativeScsi& StartNative() {
        native_.emplace(os_);
        native_->Start();
        return *native_;
    }
    void TearDown() override { native_.reset(); }
    std::optional<drive::NativeScsi> native_;
};

TEST_F(NativeNumbering, TwoUnaddressableDrivesBecomeAdapterOneTargetsZeroAndOne) {
    AddDevice(std::nullopt);
    AddDevice(std::nullopt);
    drive::NativeScsi& native = StartNative();
    EXPECT_TRUE(native.Available());
    EXPECT_EQ(NativeAddresses(native), (Pairs{{1, 0}, {1, 1}}));
    EXPECT_EQ(native.SupportInfo(), 0x102U);
    std::uint32_t answer = 0;
    const auto inquiry = AdapterInquiry(native, 0, answer);
    EXPECT_EQ(answer, aspi::statusInvalidAdapter);
    EXPECT_EQ(inquiry.SRB_Status, aspi::statusInvalidAdapter);
}

TEST_F(NativeNumbering, NinthUnaddressableDriveStartsTheNextAdapter) {
    AddDevice(At(2, 0));
    for (int i = 0; i < 9; ++i) {
        AddDevice(std::nullopt);
    }
    drive::NativeScsi& native = StartNative();
    const Pairs expected{{2, 0}, {3, 0}, {3, 1}, {3, 2}, {3, 3},
                         {3, 4}, {3, 5}, {3, 6}, {3, 7}, {4, 0}};
    EXPECT_EQ(NativeAddresses(native), expected);
}

TEST_F(NativeNumbering, AThirteenthDeviceIsNeitherOpenedNorServed) {
    for (int i = 0; i < 13; ++i) {
        AddDevice(At(0, i));
    }
    drive::NativeScsi& native = StartNative();
    EXPECT_EQ(native.Devices().size(), 12U);
    EXPECT_EQ(os_.opened.size(), 12U);
    native.Stop();
    EXPECT_EQ(os_.openHandles, 0);
}

TEST_F(NativeNumbering, AddressesThatDoNotFitARequestBlockAreNumberedLikeUnknownOnes) {
    AddDevice(At(255, 0));
    AddDevice(At(0, 300));
    EXPECT_EQ(NativeAddresses(StartNative()), (Pairs{{1, 0}, {1, 1}}));
}

TEST_F(NativeNumbering, AnUnopenableDeviceIsReportedAndMakesThePathUnavailable) {
    AddDevice(At(0, 0));
    AddDevice(At(0, 1)).openable = false;
    AddDevice(At(0, 2)).readOnly = true;
    drive::NativeScsi& native = StartNative();
    EXPECT_FALSE(native.Available());
    EXPECT_EQ(NativeAddresses(native), (Pairs{{0, 0}, {0, 2}}));
    EXPECT_EQ(os_.reports, (std::vector<std::string>{"cannot open /dev/sim1: Permission denied",
                                                     "read-only /dev/sim2"}));
}

TEST_F(NativeNumbering, EmulatedAdapterInquiryNamesTheManagerAndTheAdapter) {
    AddDevice(At(3, 6));
    // The last device of an adapter answers the capabilities query.
    AddDevice(At(3, 7)).capabilities = drive::native::Capabilities{0x00020000, 0x3};
    AddDevice(At(10, 0));
    drive::NativeScsi& native = StartNative();
    std::uint32_t answer = 0;
    const auto three = AdapterInquiry(native, 3, answer);
    EXPECT_EQ(answer, aspi::statusCompleted);
    EXPECT_EQ(three.HA_Count, 11);
    EXPECT_STREQ(reinterpret_cast<const char*>(three.HA_ManagerId), "TOV ASPI 0.3b");
    EXPECT_STREQ(reinterpret_cast<const char*>(three.HA_Identifier), "SCSI Adapter 3");
    EXPECT_EQ(three.HA_SCSI_ID, 5);  // 7 and 6 are taken
    const std::array<std::uint8_t, 16> unique{2, 0, 0, 8, 0x00, 0x00, 0x02, 0x00};
    EXPECT_EQ(0, std::memcmp(three.HA_Unique, unique.data(), unique.size()));
    const auto ten = AdapterInquiry(native, 10, answer);
    EXPECT_STREQ(reinterpret_cast<const char*>(ten.HA_Identifier), "SCSI Adapter :");
}

TEST_F(NativeNumbering, AFailedCapabilitiesQueryLeavesLengthAndAlignmentZero) {
    AddDevice(At(0, 0)).capabilities = std::nullopt;
    std::uint32_t answer = 0;
    const auto inquiry = AdapterInquiry(StartNative(), 0, answer);
    EXPECT_EQ(answer, aspi::statusCompleted);
    const std::array<std::uint8_t, 16> unique{0, 0, 0, 8};
    EXPECT_EQ(0, std::memcmp(inquiry.HA_Unique, unique.data(), unique.size()));
}

TEST(NativeEmulation, AdapterIdIsTheHighestFreeIdBelowEightThenBelowSixteen) {
    std::vector<drive::NativeDevice> devices(9);
    for (int i = 0; i < 9; ++i) {
        devices[static_cast<std::size_t>(i)].adapter = 0;
        devices[static_cast<std::size_t>(i)].target = i;
    }
    EXPECT_EQ(drive::HostAdapterScsiId(devices, 1), 7);
    EXPECT_EQ(drive::HostAdapterScsiId(std::span(devices).first(8), 0), 15);
    EXPECT_EQ(drive::HostAdapterScsiId(devices, 0), 15);
    devices.resize(16);
    for (int i = 9; i < 16; ++i) {
        devices[static_cast<std::size_t>(i)].adapter = 0;
        devices[static_cast<std::size_t>(i)].target = i;
    }
    EXPECT_EQ(drive::HostAdapterScsiId(devices, 0), 15);  // none free
}

TEST(NativeEmulation, TargetCountDoublesForEachDeviceBeyondIt) {
    std::vector<drive::NativeDevice> devices(3);
    devices[0] = {{}, -1, 2, 8, 0};
    EXPECT_EQ(drive::MaximumTargets(std::span(devices).first(1), 2), 16);
    EXPECT_EQ(drive::MaximumTargets(std::span(devices).first(1), 1), 8);
    devices[1] = {{}, -1, 2, 20, 0};
    EXPECT_EQ(drive::MaximumTargets(std::span(devices).first(2), 2), 32);
    devices[0].target = 20;
    devices[1].target = 8;  // met after the count has grown past it: no further doubling
    EXPECT_EQ(drive::MaximumTargets(std::span(devices).first(2), 2), 16);
}

TEST(NativeEmulation, AlignmentMaskGivesItsSignificantBitsUpToEleven) {
    const std::array<std::pair<std::uint32_t, std::uint16_t>, 8> cases{
        {{0, 0}, {1, 1}, {3, 2}, {4, 3}, {7, 3}, {512, 10}, {1023, 10}, {0xFFFF, 11}}};
    for (const auto& [mask, bits] : cases) {
        EXPECT_EQ(drive::AlignmentBits(mask), bits) << mask;
    }
}

TEST(NativeEmulation, TargetStatusMapsToRequestStatus) {
    const std::array<std::array<std::uint8_t, 3>, 9> cases{{{0x00, 0x01, 0x00},
                                                            {0x02, 0x04, 0x02},
                                                            {0x08, 0xE5, 0x08},
                                                            {0x22, 0x02, 0x22},
                                                            {0x04, 0xE4, 0x04},
                                                            {0x10, 0xE4, 0x10},
                                                            {0x18, 0xE4, 0x18},
                                                            {0x28, 0xE4, 0x28},
                                                            {0x40, 0xE4, 0x40}}};
    for (const auto& [scsi, srb, target] : cases) {
        const drive::MappedStatus mapped = drive::MapTargetStatus(scsi);
        EXPECT_EQ(mapped.srbStatus, srb) << int{scsi};
        EXPECT_EQ(mapped.targetStatus, target) << int{scsi};
    }
}

// --- Commands through the whole layer on the native path ---

constexpr std::array<std::uint8_t, 6> testUnitReady{0x00, 0, 0, 0, 0, 0};

drive::CommandResult RunTestUnitReady(const drive::DriveRecord& record) {
    drive::ScsiCommand command;
    command.cdb = testUnitReady;
    return drive::CommandCycle(record, command, [](auto&&, auto&&) {});
}

TEST_F(NativeLayerTest, TargetStatusesReachTheCaller) {
    AddDevice(At(0, 0), "NO DISC", false);
    AddDevice(At(0, 1)).forcedStatus = 0x22;
    AddDevice(At(0, 2)).forcedStatus = 0x08;
    AddDevice(At(0, 3)).passThroughFails = true;
    AddDevice(At(0, 4));
    ASSERT_EQ(Start(), drive::TransportKind::native);
    const drive::CommandResult noDisc = RunTestUnitReady({0, 0, 0});
    EXPECT_EQ(noDisc.status, aspi::statusCheckCondition);
    EXPECT_EQ(noDisc.targetStatus, 2);
    EXPECT_EQ(noDisc.senseKey, 0x02);
    EXPECT_EQ(noDisc.asc, 0x3A);
    EXPECT_EQ(RunTestUnitReady({0, 1, 0}).status, aspi::statusAborted);
    EXPECT_EQ(RunTestUnitReady({0, 2, 0}).status, aspi::statusBusy);
    const drive::CommandResult failed = RunTestUnitReady({0, 3, 0});
    EXPECT_EQ(failed.status, aspi::statusInvalidRequest);
    EXPECT_EQ(failed.senseKey, 0);
    const drive::CommandResult good = RunTestUnitReady({0, 4, 0});
    EXPECT_TRUE(good.Succeeded());
    EXPECT_EQ(good.senseKey, 0);
}

// READ CAPACITY(10): 8 bytes in.
drive::ScsiCommand ReadCapacityCommand() {
    static constexpr std::array<std::uint8_t, 10> readCapacity{0x25};
    drive::ScsiCommand command;
    command.cdb = readCapacity;
    command.direction = drive::DataDirection::in;
    command.transferLength = 8;
    return command;
}

// A drive that answers GOOD having moved only part of the data: the caller learns how much is
// missing, and the missing part reads as zeros, not as what the buffer held before.
TEST_F(NativeLayerTest, AShortTransferIsCountedAndItsMissingBytesReadAsZero) {
    AddDevice(At(0, 0));
    simdrive::DriveSettings settings;
    settings.shortTransfers = {{0x25, 5}};  // READ CAPACITY moves 5 of its 8 bytes
    drives_.push_back(
        std::make_unique<simdrive::Drive>(settings, simdrive::MakePatternDisc(300, 1)));
    os_.devices.back().drive = drives_.back().get();
    ASSERT_EQ(Start(), drive::TransportKind::native);
    const drive::ScsiCommand command = ReadCapacityCommand();
    drive::CommandSession session;
    std::fill_n(session.Data().begin(), 8, std::uint8_t{0xEE});
    const drive::CommandResult result = session.Run({0, 0, 0}, command);
    EXPECT_TRUE(result.Succeeded());
    EXPECT_EQ(result.residual, std::optional<std::uint32_t>(3));
    EXPECT_EQ(result.hostStatus, aspi::hostDataOverrunUnderrun);
    EXPECT_TRUE(result.TransferShort());
    EXPECT_FALSE(result.SucceededInFull());
    const auto reply = session.Data().first(8);
    EXPECT_EQ(std::vector<std::uint8_t>(reply.begin(), reply.end()),
              (std::vector<std::uint8_t>{0, 0, 0x01, 0x2B, 0, 0, 0, 0}));  // last LBA 299
}

TEST_F(NativeLayerTest, AFullTransferHasNoResidual) {
    AddDevice(At(0, 0));
    ASSERT_EQ(Start(), drive::TransportKind::native);
    const drive::ScsiCommand command = ReadCapacityCommand();
    const drive::CommandResult result =
        drive::CommandCycle({0, 0, 0}, command, [](auto&&, auto&&) {});
    EXPECT_EQ(result.residual, std::optional<std::uint32_t>(0));
    EXPECT_EQ(result.hostStatus, 0);
    EXPECT_TRUE(result.SucceededInFull());
}

TEST_F(NativeLayerTest, AnUnknownAddressEndsTheCommandInsteadOfWaitingForever) {
    AddDevice(At(0, 0));
    ASSERT_EQ(Start(), drive::TransportKind::native);
    EXPECT_EQ(RunTestUnitReady({5, 0, 0}).status, aspi::statusInvalidAdapter);
    EXPECT_EQ(os_.passThroughs, 0);
}

TEST_F(NativeLayerTest, ManyCommandsGoRoundTheRingInOrder) {
    AddDevice(At(0, 0), "FIRST");
    AddDevice(At(0, 1), "SECOND");
    ASSERT_EQ(Start(), drive::TransportKind::native);
    for (int i = 0; i < 40; ++i) {
        drive::InquiryResult inquiry;
        drive::InquireDevice(inquiry, {0, i % 2, 0});
        EXPECT_EQ(inquiry.ProductName(), i % 2 == 0 ? "SIMDRIVEFIRST" : "SIMDRIVESECOND") << i;
    }
    EXPECT_EQ(os_.passThroughs, 40);
}

TEST_F(NativeLayerTest, StoppingClosesEveryDevice) {
    AddDevice(At(0, 0));
    AddDevice(std::nullopt);
    Start();
    EXPECT_EQ(os_.openHandles, 2);
    drive::StopDriveLayer();
    EXPECT_EQ(os_.openHandles, 0);
    EXPECT_EQ(drive::ActiveTransport(), drive::TransportKind::none);
}

TEST_F(NativeLayerTest, NoDeviceAtAllLeavesTheTableEmpty) {
    EXPECT_EQ(Start(), drive::TransportKind::native);
    EXPECT_EQ(drive::TransportSupportInfo(), 0x100U);
    EXPECT_TRUE(Discover().empty());
}

}  // namespace
}  // namespace drive_tests
