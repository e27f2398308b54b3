// Whether the tests run on a processor that QEMU's TCG emulates. TCG computes the x87's fsin in
// double precision, so what only a real x87 gives (the reference image's exact frames) cannot be
// checked there; such tests skip with kX87EmulatedReason, and only there.
#pragma once

namespace testing_support {

[[nodiscard]] bool UnderQemuTcg();

inline constexpr const char* kX87EmulatedReason =
    "QEMU's TCG emulates this processor and computes fsin in double precision, not as a real "
    "x87 does";

}  // namespace testing_support
