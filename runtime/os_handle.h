#pragma once

#include <cstdint>

namespace runtime {

// A file descriptor on POSIX, a HANDLE on Windows.
using OsHandle = std::intptr_t;
inline constexpr OsHandle invalidHandle = -1;

}  // namespace runtime
