// The stand-in library's platform operations: signalling the completion event named in a
// request block, as a library outside Quellor does, and the library's lifetime.
#pragma once

#include <cstdint>

namespace standin {

void SignalEvent(void* event);

// Where unloading could not stop the server's thread, the library stays until the process ends
// and the server is left to it.
void KeepLoadedWhileServing();
extern const bool stopServerAtUnload;

// A test program whose clock stands in for the system's exports this C function; the drives'
// slow reads then advance that clock instead of sleeping. Null in any other program.
inline constexpr const char* hostClockAdvanceName = "simdrive_host_clock_advance";
using HostClockAdvance = void (*)(std::uint32_t milliseconds);
[[nodiscard]] HostClockAdvance FindHostClock();

}  // namespace standin
