// Linked into every Windows test executable: the runtime error report shows a message box,
// which in a test process (a death test's child, say) nobody would press. A watcher thread
// reads each box of this process, writes what it shows to standard error as the Linux build
// does, and presses its button, so the program goes on to its exit code.
#include <windows.h>

#include <string>

namespace {

constexpr DWORD watchInterval = 20;  // milliseconds

// Read without a message to the window's thread: GetWindowText would send one and wait for the
// box's thread, which may itself wait for the loader lock the watcher holds.
std::string WindowText(HWND window) {
    wchar_t wide[1024] = {};
    const int length = ::InternalGetWindowText(window, wide, 1024);
    char text[4096] = {};
    ::WideCharToMultiByte(CP_ACP, 0, wide, length, text, sizeof text - 1, nullptr, nullptr);
    return text;
}

BOOL CALLBACK FindOwnBox(HWND window, LPARAM parameter) {
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    char className[64] = {};
    ::GetClassNameA(window, className, sizeof className);
    if (owner == ::GetCurrentProcessId() && std::string(className) == "#32770" &&
        ::IsWindowVisible(window)) {
        *reinterpret_cast<HWND*>(parameter) = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK CollectText(HWND control, LPARAM parameter) {
    char className[64] = {};
    ::GetClassNameA(control, className, sizeof className);
    if (std::string(className) == "Static") {
        *reinterpret_cast<std::string*>(parameter) += WindowText(control);
    }
    return TRUE;
}

HWND FindBox() {
    HWND box = nullptr;
    ::EnumWindows(FindOwnBox, reinterpret_cast<LPARAM>(&box));
    return box;
}

// The process end kills every other thread, then runs the libraries' detach code, and the
// window system's detach takes its own lock. A watcher killed half-way through a window call,
// holding that lock, left the ending process waiting for it for ever (a death test's child under
// wine, now and then). The end takes the loader's lock before it kills any thread, so the
// watcher holds that lock through each look: it is only ever killed while it sleeps. A look
// therefore never waits for another thread of this process.
class LoaderLock {
public:
    LoaderLock() {
        if (lock_ != nullptr) {
            lock_(0, nullptr, &cookie_);
        }
    }
    ~LoaderLock() {
        if (unlock_ != nullptr) {
            unlock_(0, cookie_);
        }
    }
    LoaderLock(const LoaderLock&) = delete;
    LoaderLock& operator=(const LoaderLock&) = delete;

private:
    using LockProc = LONG(NTAPI*)(ULONG, ULONG*, ULONG_PTR*);
    using UnlockProc = LONG(NTAPI*)(ULONG, ULONG_PTR);
    static inline const HMODULE ntdll_ = ::GetModuleHandleA("ntdll.dll");
    static inline const auto lock_ = reinterpret_cast<LockProc>(
        reinterpret_cast<void (*)()>(::GetProcAddress(ntdll_, "LdrLockLoaderLock")));
    static inline const auto unlock_ = reinterpret_cast<UnlockProc>(
        reinterpret_cast<void (*)()>(::GetProcAddress(ntdll_, "LdrUnlockLoaderLock")));
    ULONG_PTR cookie_ = 0;
};

// Looks for a box of this process; reports and presses it. Returns the box it saw.
HWND LookOnce(HWND answered, int& looksSinceAnswer) {
    const LoaderLock held;
    const HWND box = FindBox();
    if (box == nullptr) {
        return answered;
    }
    // A press that came before the box could take it is pressed again.
    if (box == answered) {
        if (++looksSinceAnswer % 25 == 0) {
            ::PostMessageA(box, WM_COMMAND, IDOK, 0);
        }
        return answered;
    }
    looksSinceAnswer = 0;
    std::string text;
    ::EnumChildWindows(box, CollectText, reinterpret_cast<LPARAM>(&text));
    const std::string report = WindowText(box) + "\n" + text + "\n";
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), report.data(), static_cast<DWORD>(report.size()),
                &written, nullptr);
    ::PostMessageA(box, WM_COMMAND, IDOK, 0);
    return box;
}

DWORD WINAPI Watch(void* ready) {
    // The first look loads the window system's driver; then the starter may go on.
    {
        const LoaderLock held;
        (void)FindBox();
    }
    ::SetEvent(static_cast<HANDLE>(ready));
    HWND answered = nullptr;
    int looksSinceAnswer = 0;
    while (true) {
        ::Sleep(watchInterval);
        answered = LookOnce(answered, looksSinceAnswer);
    }
}

// The watcher is ready, its first look done, before main runs.
const bool watching = [] {
    const HANDLE ready = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    const HANDLE thread = ::CreateThread(nullptr, 0, Watch, ready, 0, nullptr);
    if (thread != nullptr) {
        ::WaitForSingleObject(ready, 10'000);
        ::CloseHandle(thread);
    }
    return thread != nullptr;
}();

}  // namespace
