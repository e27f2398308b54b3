// Drive discovery as a manager library answers it (support information, adapter inquiries,
// device types, INQUIRY), and the output file names made from each drive's identification.
#include <array>
#include <cstdint>

#include "drive/discovery.h"
#include "drive/inquiry.h"
#include "extract/file_names.h"
#include "tests/fuzz/scripted_drive.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::SetScript({data, size});
    std::array<drive::DriveRecord, drive::maxDrives> table{};
    std::int32_t count = 0;
    (void)drive::DiscoverDrives(count, drive::maxDrives, table);
    for (std::int32_t i = 0; i < count; ++i) {
        drive::InquiryResult inquiry;
        drive::InquireDevice(inquiry, table[static_cast<std::size_t>(i)]);
        (void)extract::MakeOutputNames(inquiry.ProductName());
    }
    return 0;
}
