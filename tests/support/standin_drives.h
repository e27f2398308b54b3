// The built programs reading simulated drives: the stand-in manager library serves the drives of
// a description file. The including test target defines MARROWBY_STANDIN_DIR, the library's
// build folder.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/program_run.h"

namespace testing_support {

// Options that run a program in `folder` against the drives of `description`. Completion before
// the send returns keeps long runs quick; the drive layer's own tests cover late completions.
// With a `commandLog`, the drives write every command they receive into it.
inline RunOptions StandInDriveOptions(const std::filesystem::path& folder,
                                      const std::filesystem::path& description,
                                      const std::filesystem::path& commandLog = {}) {
    RunOptions options;
    options.workingDirectory = folder;
    options.environment["LD_LIBRARY_PATH"] = std::string(MARROWBY_STANDIN_DIR) + "/both";
    options.environment["SIMDRIVE_DESCRIPTION"] = description.string();
    options.environment["SIMDRIVE_ASPI_COMPLETION"] = "early";
    if (!commandLog.empty()) {
        options.environment["SIMDRIVE_ASPI_COMMANDS"] = commandLog.string();
    }
    return options;
}

// The commands a drive received, one line each (CDB, and " > " data for data-out).
inline std::vector<std::string> CommandLog(const std::filesystem::path& path) {
    std::ifstream log(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(log, line);) {
        lines.push_back(line);
    }
    return lines;
}

}  // namespace testing_support
