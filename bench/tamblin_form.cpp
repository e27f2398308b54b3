// Tamblin with a chosen form of the fast mix: the same program body, banner, progress, file and
// exit codes, for benchmarks and tests that compare the forms.
//   tamblin_form <portable|avx2|avx512>
// Exits with 2 (and says why) when the name is unknown or the processor cannot run the form.
#include <cstdio>
#include <string_view>

#include "reference/fast_mix.h"
#include "reference/tamblin.h"
#include "runtime/halt.h"
#include "runtime/runtime.h"

int main(int argc, char** argv) {
    using namespace reference;
    const std::string_view name = argc == 2 ? argv[1] : "";
    for (const FastMixForm form : fastMixForms) {
        if (FormName(form) != name) {
            continue;
        }
        if (!FormRuns(form)) {
            std::fprintf(stderr, "tamblin_form: this processor cannot run the %s form\n", argv[1]);
            return 2;
        }
        runtime::InitRuntime(argc, argv, runtime::Dialect::tamblin);
        runtime::Halt(RunTamblin(form));
    }
    std::fprintf(stderr, "usage: tamblin_form <portable|avx2|avx512>\n");
    return 2;
}
