// Runs a built program of the project the way a user would, and collects what it shows.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

struct RunResult {
    int exitCode = -1;  // the process's exit status; -1 when it did not exit normally
    int signal = 0;     // the signal that ended it, if one did
    std::string out;    // everything written to standard output
    std::string err;    // everything written to standard error
};

struct RunOptions {
    std::filesystem::path workingDirectory = ".";
    std::map<std::string, std::string> environment;  // added to (or replacing in) ours
    bool closeStandardOutput = false;                // start with file descriptor 1 closed
};

// Path of a program built by the project (from MARROWBY_BIN).
[[nodiscard]] std::filesystem::path BuiltProgram(const std::string& name);

[[nodiscard]] RunResult RunProgram(const std::filesystem::path& program,
                                   const std::vector<std::string>& arguments,
                                   const RunOptions& options = {});

}  // namespace testing_support
