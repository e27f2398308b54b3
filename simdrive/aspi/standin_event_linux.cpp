// On Linux the event is an eventfd descriptor: writing 1 signals it.
#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "standin_event.h"

namespace standin {

void SignalEvent(void* event) {
    const std::uint64_t one = 1;
    const int descriptor = static_cast<int>(reinterpret_cast<std::intptr_t>(event));
    while (write(descriptor, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

// Where the library is unloaded, that runs the server's destructor, which stops and joins its
// thread (Quellor keeps manager libraries mapped until the process ends).
void KeepLoadedWhileServing() {}
const bool stopServerAtUnload = true;

HostClockAdvance FindHostClock() {
    return reinterpret_cast<HostClockAdvance>(dlsym(RTLD_DEFAULT, hostClockAdvanceName));
}

}  // namespace standin
