// The completion event on Windows: an auto-reset event HANDLE, as the managers expect.
#include <windows.h>

#include "drive/completion_event.h"

namespace drive {

bool CompletionEvent::Create() {
    Close();
    const HANDLE event = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (event == nullptr) {
        return false;
    }
    handle_ = event;
    open_ = true;
    return true;
}

void CompletionEvent::Close() {
    if (open_) {
        ::CloseHandle(handle_);
        handle_ = nullptr;
        open_ = false;
    }
}

void CompletionEvent::Signal(void* handle) {
    ::SetEvent(handle);
}

void CompletionEvent::Reset(void* handle) {
    ::ResetEvent(handle);
}

void CompletionEvent::WaitOn(void* handle) {
    ::WaitForSingleObject(handle, INFINITE);
}

// Looking consumes an auto-reset event's signal; it is given back.
bool CompletionEvent::IsSignalled(void* handle) {
    if (::WaitForSingleObject(handle, 0) != WAIT_OBJECT_0) {
        return false;
    }
    ::SetEvent(handle);
    return true;
}

}  // namespace drive
