#include "tests/support/emulator.h"

#include <cpuid.h>

#include <array>
#include <cstring>

namespace testing_support {

bool UnderQemuTcg() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    __cpuid(1, eax, ebx, ecx, edx);
    constexpr unsigned hypervisorPresent = 1u << 31;
    if ((ecx & hypervisorPresent) == 0) {
        return false;
    }
    // The hypervisor's signature, as KVM answers "KVMKVMKVM".
    __cpuid(0x40000000, eax, ebx, ecx, edx);
    std::array<char, 12> signature{};
    std::memcpy(signature.data(), &ebx, 4);
    std::memcpy(signature.data() + 4, &ecx, 4);
    std::memcpy(signature.data() + 8, &edx, 4);
    return std::memcmp(signature.data(), "TCGTCGTCGTCG", signature.size()) == 0;
}

}  // namespace testing_support
