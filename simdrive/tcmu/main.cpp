// simdrive_tcmu <backstore> <description> <drive index>: serves one drive of a description
// as the TCMU backstore core/user_N/<backstore>, until the device goes away or the process is
// stopped. Prints one line when it is ready, so scripts can link the backstore to a fabric.
#include <charconv>
#include <cstdio>
#include <string>

#include "simdrive/description.h"
#include "simdrive/tcmu/ring_server.h"
#include "simdrive/tcmu/uio_device.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: simdrive_tcmu <backstore> <description> <drive index>\n");
        return 2;
    }
    std::string error;
    auto set = simdrive::DriveSet::Load(argv[2], simdrive::LoadOptions::FromEnvironment(), error);
    if (!set) {
        std::fprintf(stderr, "simdrive_tcmu: %s\n", error.c_str());
        return 1;
    }
    const std::string indexText = argv[3];
    std::size_t index = 0;
    const auto [end, parseError] =
        std::from_chars(indexText.data(), indexText.data() + indexText.size(), index);
    if (parseError != std::errc{} || end != indexText.data() + indexText.size() ||
        index >= set->Count()) {
        std::fprintf(stderr, "simdrive_tcmu: %s has no drive %s\n", argv[2], argv[3]);
        return 1;
    }
    auto device = simdrive::tcmu::UioDevice::Open(argv[1], error);
    if (!device) {
        std::fprintf(stderr, "simdrive_tcmu: %s\n", error.c_str());
        return 1;
    }
    simdrive::Drive& drive = set->At(index);
    simdrive::tcmu::RingServer server(device->Area(), drive);
    std::printf("simdrive_tcmu: %s %s ready on %s\n", drive.Settings().vendor.c_str(),
                drive.Settings().product.c_str(), device->Path().c_str());
    std::fflush(stdout);
    // Commands queued before the device was opened raise no event: look before blocking.
    do {
        if (server.ServePending() > 0 && !device->Notify()) {
            break;
        }
    } while (device->WaitForCommands());
    std::fprintf(stderr, "simdrive_tcmu: %s went away\n", device->Path().c_str());
    return 0;
}
