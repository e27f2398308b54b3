// c2report's study reader over a file holding the fuzzer's bytes: it must refuse with a
// sentence or return a study that keeps the study's rules.
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>

#include "report/study.h"
#include "tests/fuzz/runtime_checks.h"
#include "tests/fuzz/scratch_file.h"

namespace {

const fuzzing::ScratchFile file("study_reader_fuzz");

bool PlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of("/\\") == std::string::npos && name.find('\0') == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::AbortOnRuntimeError();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    file.Write({reinterpret_cast<const char*>(data), size});
    std::string error;
    const auto study = report::ReadStudyFile(file.Path(), error);
    if (!study) {
        if (error.empty()) {
            std::abort();  // a refusal must say why
        }
        return 0;
    }
    if (study->passes.empty()) {
        std::abort();
    }
    std::set<std::string> files;
    for (const report::StudyPass& pass : study->passes) {
        if (pass.sectors < 0 || pass.sectors > 450'000 || pass.failedSectors < 0 ||
            pass.failedSectors > pass.sectors || !PlainName(pass.wav) || !PlainName(pass.c2) ||
            !files.insert(pass.wav).second || !files.insert(pass.c2).second ||
            (pass.speedReportedKBps &&
             (*pass.speedReportedKBps < 0 || *pass.speedReportedKBps > 65'535))) {
            std::abort();
        }
    }
    return 0;
}
