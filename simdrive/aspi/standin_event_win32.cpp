// On Windows the event is an event HANDLE: SetEvent signals it.
#include <windows.h>

#include "standin_event.h"

namespace standin {

void SignalEvent(void* event) {
    ::SetEvent(event);
}

// Windows runs a library's destructors under the loader lock, where joining the server's
// thread waits forever; pinned, the library is not unloaded before the process ends, and the
// end of the process ends the server's thread.
const bool stopServerAtUnload = false;

HostClockAdvance FindHostClock() {
    return reinterpret_cast<HostClockAdvance>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(nullptr), hostClockAdvanceName)));
}

void KeepLoadedWhileServing() {
    HMODULE self = nullptr;
    ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                         reinterpret_cast<const char*>(&KeepLoadedWhileServing), &self);
}

}  // namespace standin
