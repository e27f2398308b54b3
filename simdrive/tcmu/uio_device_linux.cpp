#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "simdrive/tcmu/uio_device.h"

namespace simdrive::tcmu {
namespace {

namespace fs = std::filesystem;

std::string FirstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// A TCMU device names itself "tcm-user/<hba>/<backstore>/<dev_config>".
bool NamesBackstore(const std::string& uioName, const std::string& backstore) {
    const std::string prefix = "tcm-user/";
    if (uioName.rfind(prefix, 0) != 0) {
        return false;
    }
    const std::size_t first = uioName.find('/', prefix.size());
    if (first == std::string::npos) {
        return false;
    }
    return uioName.compare(first + 1, backstore.size() + 1, backstore + "/") == 0;
}

}  // namespace

std::unique_ptr<UioDevice> UioDevice::Open(const std::string& name, std::string& error) {
    std::error_code listError;
    for (const auto& entry : fs::directory_iterator("/sys/class/uio", listError)) {
        if (!NamesBackstore(FirstLine(entry.path() / "name"), name)) {
            continue;
        }
        const std::string path = "/dev/" + entry.path().filename().string();
        const std::size_t size =
            std::stoull(FirstLine(entry.path() / "maps/map0/size"), nullptr, 0);
        const int descriptor = open(path.c_str(), O_RDWR | O_CLOEXEC);
        if (descriptor < 0) {
            error = "cannot open " + path + ": " + std::strerror(errno);
            return nullptr;
        }
        void* area = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, descriptor, 0);
        if (area == MAP_FAILED) {
            error = "cannot map " + path + ": " + std::strerror(errno);
            close(descriptor);
            return nullptr;
        }
        return std::unique_ptr<UioDevice>(
            new UioDevice(descriptor, static_cast<std::uint8_t*>(area), size, path));
    }
    error = "no UIO device serves the backstore " + name;
    return nullptr;
}

UioDevice::UioDevice(int descriptor, std::uint8_t* area, std::size_t size, std::string path)
    : descriptor_(descriptor), area_(area), size_(size), path_(std::move(path)) {}

UioDevice::~UioDevice() {
    munmap(area_, size_);
    close(descriptor_);
}

bool UioDevice::WaitForCommands() {
    std::uint32_t events = 0;
    ssize_t got = 0;
    do {
        got = read(descriptor_, &events, sizeof events);
    } while (got < 0 && errno == EINTR);
    return got == sizeof events;
}

bool UioDevice::Notify() {
    const std::uint32_t one = 1;
    ssize_t put = 0;
    do {
        put = write(descriptor_, &one, sizeof one);
    } while (put < 0 && errno == EINTR);
    return put == sizeof one;
}

}  // namespace simdrive::tcmu
