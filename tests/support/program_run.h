// Runs a built program of the project the way a user would, and collects what it shows.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

// A message box the program showed (Windows), read and dismissed by RunProgram.
struct ShownMessageBox {
    std::string caption;
    std::string text;
    bool icon = false;     // shows an icon (which one cannot be told from another process)
    bool topmost = false;  // system-modal boxes stay above every window
};

// On Windows the console texts are given with each carriage return and line feed pair
// translated to a line feed, so that tests state their expectations once; a line feed without
// a carriage return before it shows as "<LF>" and fails them. `rawOut` keeps the bytes. A
// message box appears in `err` as it would on Linux: its caption, a line end, its text, a line
// end.
struct RunResult {
    int exitCode = -1;   // the process's exit status; -1 when it did not exit normally
    int signal = 0;      // the signal that ended it, if one did
    std::string out;     // everything written to standard output
    std::string err;     // everything written to standard error
    std::string rawOut;  // standard output as written, line ends untranslated
    std::vector<ShownMessageBox> boxes;
};

// On Windows, where libraries are found beside the program, a folder named in LD_LIBRARY_PATH
// has its libraries copied beside a private copy of the program, which is then run.
struct RunOptions {
    std::filesystem::path workingDirectory = ".";
    std::map<std::string, std::string> environment;  // added to (or replacing in) ours
    bool closeStandardOutput = false;                // start with file descriptor 1 closed
};

// Path of a program built by the project (from MARROWBY_BIN), ".exe" added on Windows.
[[nodiscard]] std::filesystem::path BuiltProgram(const std::string& name);

[[nodiscard]] RunResult RunProgram(const std::filesystem::path& program,
                                   const std::vector<std::string>& arguments,
                                   const RunOptions& options = {});

}  // namespace testing_support
