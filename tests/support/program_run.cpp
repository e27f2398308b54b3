#include "tests/support/program_run.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

#include "tests/support/temp_dir.h"

extern char** environ;

namespace testing_support {
namespace {

std::vector<std::string> MergedEnvironment(const std::map<std::string, std::string>& extra) {
    std::map<std::string, std::string> merged;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text(*entry);
        const auto equals = text.find('=');
        merged[text.substr(0, equals)] = equals == std::string::npos ? "" : text.substr(equals + 1);
    }
    for (const auto& [name, value] : extra) {
        merged[name] = value;
    }
    std::vector<std::string> lines;
    for (const auto& [name, value] : merged) {
        lines.push_back(name + "=" + value);
    }
    return lines;
}

}  // namespace

std::filesystem::path BuiltProgram(const std::string& name) {
    const char* bin = std::getenv("MARROWBY_BIN");
    if (bin == nullptr) {
        throw std::runtime_error("MARROWBY_BIN is not set");
    }
    return std::filesystem::path(bin) / name;
}

RunResult RunProgram(const std::filesystem::path& program,
                     const std::vector<std::string>& arguments, const RunOptions& options) {
    TempDir capture;
    const auto outPath = capture / "stdout";
    const auto errPath = capture / "stderr";

    std::vector<std::string> argumentStrings{program.string()};
    argumentStrings.insert(argumentStrings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& text : argumentStrings) {
        argv.push_back(text.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> environmentStrings = MergedEnvironment(options.environment);
    std::vector<char*> envp;
    for (auto& text : environmentStrings) {
        envp.push_back(text.data());
    }
    envp.push_back(nullptr);

    const pid_t child = fork();
    if (child < 0) {
        throw std::runtime_error("fork failed");
    }
    if (child == 0) {
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int in = open("/dev/null", O_RDONLY);
        if (out < 0 || err < 0 || in < 0 || chdir(options.workingDirectory.c_str()) != 0) {
            _exit(127);
        }
        dup2(in, STDIN_FILENO);
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        if (options.closeStandardOutput) {
            close(STDOUT_FILENO);
        }
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
    }
    RunResult result;
    if (WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    result.out = ReadFileText(outPath);
    result.rawOut = result.out;
    result.err = ReadFileText(errPath);
    return result;
}

}  // namespace testing_support
