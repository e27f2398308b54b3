// The CD devices of a sysfs tree and the addresses they get: two drives never share one, even
// where the kernel's packed SCSI address word would merge them.
#include "drive/posix/sysfs_cd_devices.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

class SysfsDevices : public testing::Test {
protected:
    // A SCSI device entry "h:c:t:l" of peripheral type `type` with a node in `folder`.
    void AddEntry(const std::string& hctl, int type, const std::string& folder,
                  const std::string& node) {
        const fs::path entry = dir_ / hctl;
        fs::create_directories(entry / folder / node);
        std::ofstream(entry / "type") << type << "\n";
    }

    // Each device's node and address as "adapter:target:lun", or "none".
    std::vector<std::string> Listed() {
        std::vector<std::string> listed;
        for (const auto& device : drive::native::ListSysfsCdDevices(dir_.Path())) {
            const auto& a = device.address;
            listed.push_back(device.node + " " +
                             (a ? std::to_string(a->adapter) + ":" + std::to_string(a->target) +
                                      ":" + std::to_string(a->lun)
                                : "none"));
        }
        return listed;
    }

    testing_support::TempDir dir_;
};

// The packed word keeps 8 bits of the host and no channel: all three were adapter 0, target 3.
TEST_F(SysfsDevices, DrivesOnOtherChannelsOrHostsAboveTwoHundredFiftyFiveStayApart) {
    AddEntry("256:0:3:0", 5, "scsi_generic", "sg2");
    AddEntry("0:1:3:0", 5, "scsi_generic", "sg1");
    AddEntry("0:0:3:0", 5, "scsi_generic", "sg0");
    EXPECT_EQ(Listed(),
              (std::vector<std::string>{"/dev/sg0 0:3:0", "/dev/sg1 1:3:0", "/dev/sg2 2:3:0"}));
}

TEST_F(SysfsDevices, DrivesOfOneBusShareItsAdapterInAddressOrder) {
    AddEntry("4:0:1:0", 5, "scsi_generic", "sg5");
    AddEntry("2:0:0:0", 0, "scsi_generic", "sg0");  // a disk: not listed
    AddEntry("4:0:0:0", 5, "block", "sr1");         // no generic driver: the block node
    AddEntry("3:0:0:0", 5, "scsi_generic", "sg3");
    AddEntry("host3", 5, "scsi_generic", "sg9");  // not an address
    EXPECT_EQ(Listed(),
              (std::vector<std::string>{"/dev/sg3 0:0:0", "/dev/sr1 1:0:0", "/dev/sg5 1:1:0"}));
}

// A target or LUN beyond a byte gets no address here; the layer numbers it apart.
TEST_F(SysfsDevices, ATargetOrLunBeyondAByteGetsNoAddress) {
    AddEntry("0:0:300:0", 5, "scsi_generic", "sg0");
    AddEntry("0:0:1:256", 5, "scsi_generic", "sg1");
    AddEntry("0:0:255:255", 5, "scsi_generic", "sg2");
    EXPECT_EQ(Listed(),
              (std::vector<std::string>{"/dev/sg1 none", "/dev/sg2 0:255:255", "/dev/sg0 none"}));
}

// The bus is read from where the kernel really keeps the device, which its entry links to.
TEST_F(SysfsDevices, EachDeviceCarriesTheBusOfTheFolderItLivesIn) {
    const std::vector<std::pair<std::string, std::string>> homes{
        {"1:0:0:0", "devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host1/target1:0:0"},
        {"0:0:0:0", "devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0"},
        {"2:0:1:0", "devices/tcm_loop_0/tcm_loop_adapter_0/host2/target2:0:1"},
        {"3:0:0:0", "devices/platform/odd3"}};
    fs::create_directories(dir_ / "bus");
    for (const auto& [hctl, home] : homes) {
        const fs::path real = dir_ / home / hctl;
        fs::create_directories(real / "scsi_generic" / ("sg" + hctl.substr(0, 1)));
        std::ofstream(real / "type") << "5\n";
        fs::create_directory_symlink(real, dir_ / "bus" / hctl);
    }
    std::vector<std::string> buses;
    for (const auto& device : drive::native::ListSysfsCdDevices(dir_ / "bus")) {
        buses.push_back(device.node + " " + drive::native::BusName(device.bus));
    }
    EXPECT_EQ(buses, (std::vector<std::string>{"/dev/sg0 ata", "/dev/sg1 usb", "/dev/sg2 scsi",
                                               "/dev/sg3 unknown"}));
}

}  // namespace
