// The submission reader over untrusted bytes, as the pool and --verify take them from anyone:
// refused with a message or accepted, never a crash; what it accepts is written back the same.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "report/submission/submission.h"
#include "tests/fuzz/runtime_checks.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::AbortOnRuntimeError();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string error;
    auto accepted = report::ParseSubmission("fuzz.json", text, error);
    if (!accepted) {
        if (error.empty()) {
            std::abort();  // a refusal must say why
        }
        return 0;
    }
    report::Submission copy = *accepted;
    const std::string written = report::SubmissionText(copy);
    const auto again = report::ParseSubmission("again.json", written, error);
    if (!again || again->passes.size() != accepted->passes.size()) {
        std::abort();
    }
    for (std::size_t i = 0; i < again->passes.size(); ++i) {
        if (!(again->passes[i].figures == accepted->passes[i].figures) ||
            again->passes[i].evidence != accepted->passes[i].evidence) {
            std::abort();
        }
    }
    return 0;
}
