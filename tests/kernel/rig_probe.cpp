// rig_probe <device> <description> <drive index> <lba> <sectors>: one READ CD with audio and C2
// pointers sent straight through SG_IO, and what the kernel delivered set against what the
// drive model sends for the same command: status, sense, residual and data. Bytes past the
// delivered part are checked too: the buffer is filled with a marker first, so the line says
// whether the kernel left them alone, cleared them or wrote something else there.
#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "simdrive/description.h"
#include "simdrive/scsi.h"

namespace {

constexpr std::uint8_t kMarker = 0xA5;
constexpr std::uint32_t kBlockBytes = simdrive::kAudioBytes + simdrive::kC2Bytes;

const char* Beyond(const std::vector<std::uint8_t>& data, std::size_t delivered) {
    const auto rest = data.begin() + static_cast<std::ptrdiff_t>(delivered);
    if (std::all_of(rest, data.end(), [](std::uint8_t b) { return b == kMarker; })) {
        return "untouched";
    }
    if (std::all_of(rest, data.end(), [](std::uint8_t b) { return b == 0; })) {
        return "zero";
    }
    return "changed";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr,
                     "usage: rig_probe <device> <description> <drive index> <lba> <sectors>\n");
        return 2;
    }
    std::string error;
    auto set = simdrive::DriveSet::Load(argv[2], simdrive::LoadOptions::FromEnvironment(), error);
    const std::size_t index = std::stoul(argv[3]);
    if (!set || index >= set->Count()) {
        std::fprintf(stderr, "rig_probe: %s\n", set ? "no such drive" : error.c_str());
        return 1;
    }
    const auto lba = static_cast<std::uint32_t>(std::stoul(argv[4]));
    const auto sectors = static_cast<std::uint8_t>(std::stoul(argv[5]));
    auto cdb = simdrive::ReadCdCommand(lba, sectors, 0x12);
    const std::size_t length = std::size_t{sectors} * kBlockBytes;

    std::vector<std::uint8_t> model(length, 0);
    std::array<std::uint8_t, 18> modelSense{};
    const auto expected = set->At(index).Execute(cdb, simdrive::Direction::in, model, modelSense);

    const int device = open(argv[1], O_RDWR | O_NONBLOCK);
    if (device < 0) {
        std::fprintf(stderr, "rig_probe: cannot open %s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    std::vector<std::uint8_t> data(length, kMarker);
    std::array<std::uint8_t, 32> sense{};
    sg_io_hdr_t header{};
    header.interface_id = 'S';
    header.dxfer_direction = SG_DXFER_FROM_DEV;
    header.cmd_len = static_cast<unsigned char>(cdb.size());
    header.cmdp = cdb.data();
    header.dxfer_len = static_cast<unsigned int>(length);
    header.dxferp = data.data();
    header.mx_sb_len = sense.size();
    header.sbp = sense.data();
    header.timeout = 20'000;
    if (ioctl(device, SG_IO, &header) < 0) {
        std::printf("sg_io=failed errno=%s\n", std::strerror(errno));
        close(device);
        return 0;
    }
    close(device);

    const std::size_t delivered = length - static_cast<std::size_t>(std::max(header.resid, 0));
    const bool sameStatus = header.status == expected.status;
    const bool sameSense =
        header.status == 0 || std::memcmp(sense.data(), modelSense.data(), 14) == 0;
    const bool sameResidual = delivered == expected.transferred;
    const bool sameData = delivered <= length &&
                          std::memcmp(data.data(), model.data(),
                                      std::min<std::size_t>(delivered, expected.transferred)) == 0;
    std::printf(
        "status=0x%02x host=0x%x driver=0x%x resid=%d expected_resid=%zu sense=%02x/%02x/%02x "
        "information=%u delivered_matches_model=%s beyond_delivered=%s verdict=%s\n",
        header.status, header.host_status, header.driver_status, header.resid,
        length - expected.transferred, sense[2] & 0x0F, sense[12], sense[13],
        (std::uint32_t{sense[3]} << 24) | (std::uint32_t{sense[4]} << 16) |
            (std::uint32_t{sense[5]} << 8) | sense[6],
        sameData ? "yes" : "no", Beyond(data, delivered),
        sameStatus && sameSense && sameResidual && sameData ? "ok" : "differs");
    return 0;
}
