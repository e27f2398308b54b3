// The completion event of execute requests: an event that a manager library in the process can
// signal through a plain C interface, so it is named in a request block by a pointer-sized
// value (an eventfd descriptor on Linux, an event HANDLE on Windows). Auto-reset: a satisfied
// wait consumes the signal.
#pragma once

#include "drive/aspi_contract.h"

namespace drive {

class CompletionEvent {
public:
    CompletionEvent() = default;
    ~CompletionEvent() { Close(); }
    CompletionEvent(const CompletionEvent&) = delete;
    CompletionEvent& operator=(const CompletionEvent&) = delete;

    // False when the OS refused an event.
    [[nodiscard]] bool Create();
    void Close();
    [[nodiscard]] bool IsOpen() const { return open_; }
    // The value to put into SRB_PostProc.
    [[nodiscard]] void* Handle() const { return handle_; }

    // Waits until signalled and consumes the signal.
    void Wait() const { WaitOn(handle_); }

    // Operations on an event named by a request block.
    static void Signal(void* handle);
    static void Reset(void* handle);
    static void WaitOn(void* handle);
    [[nodiscard]] static bool IsSignalled(void* handle);

private:
    void* handle_ = nullptr;
    bool open_ = false;
};

}  // namespace drive
