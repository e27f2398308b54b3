#include "runtime/runtime.h"

#include "runtime/command_line.h"
#include "runtime/platform.h"

namespace runtime {
namespace {

Dialect dialect = Dialect::tamblin;

}  // namespace

void InitConsole();

void InitRuntime(int argc, char** argv, Dialect programDialect) {
    dialect = programDialect;
    platform::InitProcess(argc, argv);
    InitConsole();
}

Dialect CurrentDialect() {
    return dialect;
}

void CommandTail(std::span<char> buffer) {
    platform::CommandTail(buffer);
}

}  // namespace runtime
