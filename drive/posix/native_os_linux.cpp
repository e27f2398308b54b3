// The native command path's OS operations on Linux: CD devices from sysfs, commands through
// the SCSI generic interface (SG_IO).
#include <fcntl.h>
#include <linux/fs.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "drive/native_os.h"
#include "drive/posix/sysfs_cd_devices.h"

namespace drive::native {
namespace {

namespace fs = std::filesystem;

const fs::path scsiDevices = "/sys/bus/scsi/devices";
constexpr int scsiGenericMajor = 21;
constexpr std::uint8_t driverSense = 0x08;  // low nibble of driver_status: sense data follows

class LinuxDevices final : public DeviceOs {
public:
    // Each keeps the address sysfs gives it, host and channel included: the SCSI ioctl's
    // packed word drops the channel and the high bits of the host, which can merge two drives.
    std::size_t ListCdDevices(std::span<CdDevice> devices) override {
        listed_ = ListSysfsCdDevices(scsiDevices);
        const std::size_t count = std::min(listed_.size(), devices.size());
        for (std::size_t i = 0; i < count; ++i) {
            devices[i] = {};
            const std::string& node = listed_[i].node;
            const std::size_t length = std::min(node.size(), devices[i].path.size() - 1);
            std::memcpy(devices[i].path.data(), node.data(), length);
        }
        return count;
    }

    // Non-blocking, so that a drive without a disc still opens.
    OpenResult Open(const char* path) override {
        OpenResult result;
        result.handle = open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (result.handle < 0) {
            result.access = Access::readOnly;
            result.handle = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        }
        if (result.handle < 0) {
            result.error = errno;
            result.handle = invalidDevice;
        } else {
            openedFrom_[result.handle] = path;
        }
        return result;
    }

    std::optional<ScsiAddress> QueryAddress(DeviceHandle device) override {
        const SysfsCdDevice* listed = ListedAs(device);
        return listed != nullptr ? listed->address : std::nullopt;
    }

    Bus QueryBus(DeviceHandle device) override {
        const SysfsCdDevice* listed = ListedAs(device);
        return listed != nullptr ? listed->bus : Bus::unknown;
    }

    // The generic driver reports the limit in bytes, the block driver in 512-byte sectors.
    std::optional<Capabilities> QueryCapabilities(DeviceHandle device) override {
        const int descriptor = static_cast<int>(device);
        struct stat status {};
        if (fstat(descriptor, &status) < 0) {
            return std::nullopt;
        }
        Capabilities capabilities;
        if (S_ISCHR(status.st_mode) && major(status.st_rdev) == scsiGenericMajor) {
            int bytes = 0;
            if (ioctl(descriptor, BLKSECTGET, &bytes) < 0 || bytes < 0) {
                return std::nullopt;
            }
            capabilities.maximumTransferLength = static_cast<std::uint32_t>(bytes);
        } else {
            unsigned short sectors = 0;
            if (ioctl(descriptor, BLKSECTGET, &sectors) < 0) {
                return std::nullopt;
            }
            capabilities.maximumTransferLength = sectors * 512U;
        }
        return capabilities;
    }

    PassThroughReply PassThrough(DeviceHandle device, PassThroughRequest& request) override {
        sg_io_hdr_t header{};
        header.interface_id = 'S';
        header.dxfer_direction = Direction(request);
        header.cmd_len = request.cdbLength;
        header.mx_sb_len = request.senseLength;
        header.dxfer_len = request.length;
        header.dxferp = request.data;
        header.cmdp = request.cdb.data();
        header.sbp = request.sense.data();
        header.timeout = static_cast<unsigned int>(request.timeout.count());
        PassThroughReply reply;
        if (ioctl(static_cast<int>(device), SG_IO, &header) < 0) {
            return reply;
        }
        reply.scsiStatus = header.status;
        const bool senseFollows =
            (header.driver_status & 0x0F) == driverSense && header.sb_len_wr > 0;
        if (reply.scsiStatus == 0 && senseFollows) {
            reply.scsiStatus = 0x02;  // some drivers flag the sense but leave the status clear
        }
        const bool pathFailed =
            header.host_status != 0 || ((header.driver_status & 0x0F) != 0 && !senseFollows);
        reply.delivered = reply.scsiStatus != 0 || !pathFailed;
        // resid is an int the driver computes as asked minus moved; keep it within what was asked.
        reply.residual = header.resid > 0
                             ? std::min(static_cast<std::uint32_t>(header.resid), request.length)
                             : 0;
        return reply;
    }

    void Close(DeviceHandle device) override {
        openedFrom_.erase(device);
        close(static_cast<int>(device));
    }

    void ReportOpenFailure(const char* path, int error) override {
        std::fprintf(stderr, "Cannot open the CD drive %s: %s\n", path, std::strerror(error));
    }

    void ReportReadOnly(const char* path) override {
        std::fprintf(stderr,
                     "The CD drive %s could be opened for reading only; it may refuse some read "
                     "commands.\n",
                     path);
    }

private:
    // The sysfs entry an open handle's node came from.
    const SysfsCdDevice* ListedAs(DeviceHandle device) const {
        const auto opened = openedFrom_.find(device);
        if (opened == openedFrom_.end()) {
            return nullptr;
        }
        for (const SysfsCdDevice& listed : listed_) {
            if (listed.node == opened->second) {
                return &listed;
            }
        }
        return nullptr;
    }

    std::vector<SysfsCdDevice> listed_;
    std::map<DeviceHandle, std::string> openedFrom_;  // the node each open handle came from

    static int Direction(const PassThroughRequest& request) {
        if (request.length == 0) {
            return SG_DXFER_NONE;
        }
        return request.direction == DataDirection::in ? SG_DXFER_FROM_DEV : SG_DXFER_TO_DEV;
    }
};

}  // namespace

DeviceOs& PlatformDeviceOs() {
    static LinuxDevices devices;
    return devices;
}

}  // namespace drive::native
