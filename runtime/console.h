// Console output of both programs. Only the main thread writes to the console; a fatal error
// on another thread may flush it.
#pragma once

#include <cstdint>
#include <string_view>

namespace runtime {

void WriteLn();
// Writes up to the first NUL or the end of the view, whichever comes first.
void WriteString(std::string_view text);
void WriteChar(char c);
// Decimal, left-padded with spaces to `width`; never cut when longer.
void WriteInt(std::int32_t value, std::int32_t width);
// Fixed point with `places` decimals, left-padded to `width` (see FormatFixed).
void WriteFixed(double value, std::int32_t places, std::int32_t width);
// Whether the console is a terminal (a character device) rather than a file or a pipe.
[[nodiscard]] bool ConsoleIsTerminal();
// Pushes buffered output (redirected console) to the OS; Halt does this too.
void FlushConsole();
// The same from a processor fault's handler, which may have interrupted a console write on
// its own thread: waits only briefly for the channel, then writes what it holds.
void FlushConsoleAtFault();

}  // namespace runtime
