// Running a built program on Windows: CreateProcessA with the standard handles redirected to
// files, and a watch for the message boxes it shows, which are read and dismissed so that no
// test waits for a person.
#include <windows.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "tests/support/program_run.h"
#include "tests/support/temp_dir.h"

namespace testing_support {
namespace {

constexpr DWORD watchInterval = 20;  // milliseconds between looks for a message box

// Windows treats variable names without regard to case.
std::string UpperCase(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

// The block CreateProcessA takes: NAME=value strings, each NUL-terminated, sorted, one more NUL.
std::string EnvironmentBlock(const std::map<std::string, std::string>& extra) {
    std::map<std::string, std::pair<std::string, std::string>> merged;
    if (char* strings = ::GetEnvironmentStringsA()) {
        for (const char* entry = strings; *entry != '\0'; entry += std::strlen(entry) + 1) {
            const std::string text(entry);
            const auto equals = text.find('=', 1);  // "=C:=C:\\" style entries start with '='
            const std::string name = text.substr(0, equals);
            merged[UpperCase(name)] = {name,
                                       equals == std::string::npos ? "" : text.substr(equals + 1)};
        }
        ::FreeEnvironmentStringsA(strings);
    }
    for (const auto& [name, value] : extra) {
        merged[UpperCase(name)] = {name, value};
    }
    std::string block;
    for (const auto& [key, entry] : merged) {
        block += entry.first + "=" + entry.second;
        block.push_back('\0');
    }
    block.push_back('\0');
    return block;
}

// Quotes an argument the way the C runtime's splitting reads it back.
std::string Quoted(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) {
        return argument;
    }
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        quoted.push_back(c);
    }
    quoted.append(2 * backslashes, '\\');
    quoted.push_back('"');
    return quoted;
}

// CR LF becomes LF; a lone LF is marked, so that a wrong line end cannot pass unseen.
std::string Translated(const std::string& raw) {
    std::string text;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') {
            text.push_back('\n');
            ++i;
        } else if (raw[i] == '\n') {
            text += "<LF>";
        } else {
            text.push_back(raw[i]);
        }
    }
    return text;
}

HANDLE InheritableFile(const std::filesystem::path& path, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    const HANDLE handle =
        ::CreateFileA(path.string().c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited,
                      disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        throw std::runtime_error("cannot open " + path.string());
    }
    return handle;
}

std::string WindowText(HWND window) {
    char text[1024] = {};
    ::GetWindowTextA(window, text, sizeof text);
    return text;
}

struct BoxSearch {
    DWORD processId = 0;
    HWND found = nullptr;
};

// A message box is a dialog of the child's, of the dialog class "#32770".
BOOL CALLBACK FindBox(HWND window, LPARAM parameter) {
    auto& search = *reinterpret_cast<BoxSearch*>(parameter);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    char className[64] = {};
    ::GetClassNameA(window, className, sizeof className);
    if (owner == search.processId && std::string(className) == "#32770" &&
        ::IsWindowVisible(window)) {
        search.found = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK ReadBoxControl(HWND control, LPARAM parameter) {
    auto& box = *reinterpret_cast<ShownMessageBox*>(parameter);
    char className[64] = {};
    ::GetClassNameA(control, className, sizeof className);
    if (std::string(className) != "Static") {
        return TRUE;
    }
    if ((::GetWindowLongA(control, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
        box.icon = ::SendMessageA(control, STM_GETICON, 0, 0) != 0;
    } else if (const std::string text = WindowText(control); !text.empty()) {
        box.text = text;
    }
    return TRUE;
}

// Reads and dismisses a box the child shows; false when it shows none.
bool DismissBox(DWORD processId, RunResult& result) {
    BoxSearch search{processId, nullptr};
    ::EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
    if (search.found == nullptr) {
        return false;
    }
    ShownMessageBox box;
    box.caption = WindowText(search.found);
    box.topmost = (::GetWindowLongA(search.found, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    ::EnumChildWindows(search.found, ReadBoxControl, reinterpret_cast<LPARAM>(&box));
    result.err += box.caption + "\r\n" + box.text + "\r\n";
    result.boxes.push_back(box);
    ::PostMessageA(search.found, WM_COMMAND, IDOK, 0);
    // The box goes once its owner has handled the message; do not read it twice.
    for (int i = 0; i < 100 && ::IsWindow(search.found) && ::IsWindowVisible(search.found); ++i) {
        ::Sleep(watchInterval);
    }
    return true;
}

// Libraries are found beside the program: a private copy of it gets the folder's libraries.
std::filesystem::path ProgramBesideLibraries(const std::filesystem::path& program,
                                             const RunOptions& options, const TempDir& place) {
    const auto named = options.environment.find("LD_LIBRARY_PATH");
    if (named == options.environment.end() || named->second.empty()) {
        return program;
    }
    const auto copy = place / program.filename().string();
    std::filesystem::copy_file(program, copy);
    for (const auto& entry : std::filesystem::directory_iterator(named->second)) {
        std::filesystem::copy_file(entry.path(), place / entry.path().filename().string());
    }
    return copy;
}

}  // namespace

std::filesystem::path BuiltProgram(const std::string& name) {
    const char* bin = std::getenv("MARROWBY_BIN");
    if (bin == nullptr) {
        throw std::runtime_error("MARROWBY_BIN is not set");
    }
    return std::filesystem::path(bin) / (name + ".exe");
}

RunResult RunProgram(const std::filesystem::path& program,
                     const std::vector<std::string>& arguments, const RunOptions& options) {
    TempDir capture;
    const auto outPath = capture / "stdout";
    const auto errPath = capture / "stderr";
    TempDir place;
    const auto runnable = ProgramBesideLibraries(program, options, place);

    std::string commandLine = Quoted(runnable.string());
    for (const auto& argument : arguments) {
        commandLine += " " + Quoted(argument);
    }
    std::string environment = EnvironmentBlock(options.environment);

    const HANDLE in = InheritableFile("NUL", GENERIC_READ, OPEN_EXISTING);
    const HANDLE out = InheritableFile(outPath, GENERIC_WRITE, CREATE_ALWAYS);
    const HANDLE err = InheritableFile(errPath, GENERIC_WRITE, CREATE_ALWAYS);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = options.closeStandardOutput ? nullptr : out;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    const std::string directory = std::filesystem::absolute(options.workingDirectory).string();
    const BOOL created =
        ::CreateProcessA(runnable.string().c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0,
                         environment.data(), directory.c_str(), &startup, &process);
    ::CloseHandle(in);
    ::CloseHandle(out);
    ::CloseHandle(err);
    if (!created) {
        throw std::runtime_error("cannot start " + runnable.string());
    }
    RunResult result;
    while (::WaitForSingleObject(process.hProcess, watchInterval) == WAIT_TIMEOUT) {
        (void)DismissBox(process.dwProcessId, result);
    }
    DWORD exitCode = 0;
    ::GetExitCodeProcess(process.hProcess, &exitCode);
    result.exitCode = static_cast<int>(exitCode);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);

    result.rawOut = ReadFileText(outPath);
    result.out = Translated(result.rawOut);
    result.err = Translated(ReadFileText(errPath) + result.err);
    return result;
}

}  // namespace testing_support
