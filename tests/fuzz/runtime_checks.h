// A failed internal check in a harness ends in abort(), so that libFuzzer keeps the input and
// the stack instead of seeing an ordinary exit with the report's code.
#pragma once

#include <cstdlib>

#include "runtime/halt.h"

namespace fuzzing {

// Once, before the first input.
inline void AbortOnRuntimeError() {
    (void)runtime::InstallTermination([] { std::abort(); });
}

}  // namespace fuzzing
