#include "extract/quellor.h"
#include "runtime/console.h"
#include "runtime/halt.h"
#include "runtime/runtime.h"

int main(int argc, char** argv) {
    runtime::InitRuntime(argc, argv, runtime::Dialect::quellor);
    const std::int32_t exitCode = extract::RunQuellor();
    // Ends the progress line, or leaves an empty line after a message.
    runtime::WriteLn();
    runtime::Halt(exitCode);
}
