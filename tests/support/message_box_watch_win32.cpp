// Linked into every Windows test executable: the runtime error report shows a message box,
// which in a test process (a death test's child, say) nobody would press. A watcher thread
// reads each box of this process, writes what it shows to standard error as the Linux build
// does, and presses its button, so the program goes on to its exit code.
#include <windows.h>

#include <string>

namespace {

constexpr DWORD watchInterval = 20;  // milliseconds

std::string WindowText(HWND window) {
    char text[1024] = {};
    ::GetWindowTextA(window, text, sizeof text);
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

DWORD WINAPI Watch(void* ready) {
    // The first look loads the window system's driver; then the starter may go on.
    (void)FindBox();
    ::SetEvent(static_cast<HANDLE>(ready));
    HWND answered = nullptr;
    int looksSinceAnswer = 0;
    while (true) {
        ::Sleep(watchInterval);
        const HWND box = FindBox();
        if (box == nullptr) {
            continue;
        }
        // A press that came before the box could take it is pressed again.
        if (box == answered) {
            if (++looksSinceAnswer % 25 == 0) {
                ::PostMessageA(box, WM_COMMAND, IDOK, 0);
            }
            continue;
        }
        looksSinceAnswer = 0;
        std::string text;
        ::EnumChildWindows(box, CollectText, reinterpret_cast<LPARAM>(&text));
        const std::string report = WindowText(box) + "\n" + text + "\n";
        DWORD written = 0;
        ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), report.data(),
                    static_cast<DWORD>(report.size()), &written, nullptr);
        ::PostMessageA(box, WM_COMMAND, IDOK, 0);
        answered = box;
    }
}

// The program must not end while the watcher is still starting or loading a library: the
// process end would kill it holding the loader's lock, which the end itself then waits for (a
// short death test's child hung so under wine). So the watcher is ready before main runs.
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
