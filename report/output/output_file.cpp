#include "report/output/output_file.h"

#include <filesystem>
#include <fstream>
#include <system_error>

namespace report {

bool WriteWholeFile(const std::string& path, const std::function<void(std::ostream&)>& write) {
    const std::string partial = path + ".partial";
    std::error_code ignored;
    {
        std::ofstream file(partial, std::ios::binary | std::ios::trunc);
        if (file) {
            write(file);
            file.close();
        }
        if (!file) {
            std::filesystem::remove(partial, ignored);
            return false;
        }
    }
    std::error_code failure;
    std::filesystem::rename(partial, path, failure);
    if (failure && std::filesystem::is_regular_file(path, ignored)) {
        // Where a rename does not replace (some Windows runtimes), the old file goes first.
        std::filesystem::remove(path, ignored);
        failure.clear();
        std::filesystem::rename(partial, path, failure);
    }
    if (failure) {
        std::filesystem::remove(partial, ignored);
        return false;
    }
    return true;
}

bool FlushConsole(std::ostream& out, std::ostream& err, const char* message) {
    out.flush();
    if (out) {
        return true;
    }
    err << message << '\n';
    return false;
}

}  // namespace report
