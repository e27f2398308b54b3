#pragma once

#include <cstdint>

namespace drive {

// Which way a command's data moves.
enum class DataDirection : std::uint8_t { none, in, out };

}  // namespace drive
