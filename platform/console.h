// The terminal the programs print to: whether standard output is one, and getting it ready for a
// live view (UTF-8 text, cursor movement). POSIX: console_posix.cc; Windows: console_windows.cc
// (the console's output code page set to UTF-8, virtual-terminal sequences turned on where the
// console has them).
#pragma once

#include <cstddef>
#include <cstdio>

namespace veldrane::platform {

// Standard output is a terminal.
bool StdoutIsTerminal();
// Makes text printed as UTF-8 show as such (nothing to do on POSIX). Call once at the start.
void UseUtf8Output();
// True when standard output is a terminal that takes the escape sequences of a live view (clear,
// cursor home); false: plain lines.
bool PrepareLiveView();
// The terminal's height in lines; 24 when standard output is no terminal or it does not say.
size_t TerminalRows();

}  // namespace veldrane::platform
