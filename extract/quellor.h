#pragma once

#include <cstdint>

namespace extract {

// The whole run of Quellor after the runtime is up; returns the exit code.
[[nodiscard]] std::int32_t RunQuellor();

}  // namespace extract
