#include "reference/tamblin.h"
#include "runtime/halt.h"
#include "runtime/runtime.h"

int main(int argc, char** argv) {
    runtime::InitRuntime(argc, argv, runtime::Dialect::tamblin);
    runtime::Halt(reference::RunTamblin());
}
