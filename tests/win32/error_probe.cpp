// A program that ends in the runtime error report: "check" fails a run-time check, "fault"
// touches memory it may not.
#include <string_view>

#include "runtime/error.h"
#include "runtime/runtime.h"

int main(int argc, char** argv) {
    runtime::InitRuntime(argc, argv, runtime::Dialect::quellor);
    if (argc > 1 && std::string_view(argv[1]) == "fault") {
        volatile int* nowhere = nullptr;
        *nowhere = 1;
    }
    runtime::RuntimeError("INDEX-RANGE");
}
