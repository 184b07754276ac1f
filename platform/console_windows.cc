#include <windows.h>

#include "platform/console.h"

namespace veldrane::platform {

bool StdoutIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != FALSE;
}

void UseUtf8Output() {
  SetConsoleOutputCP(CP_UTF8);
}

bool PrepareLiveView() {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (!GetConsoleMode(out, &mode)) return false;
  SetConsoleOutputCP(CP_UTF8);
  // Consoles before Windows 10 have no escape sequences: they get plain lines.
  return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) ||
         SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

size_t TerminalRows() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) return 24;
  int rows = info.srWindow.Bottom - info.srWindow.Top + 1;
  return rows > 0 ? static_cast<size_t>(rows) : 24;
}

}  // namespace veldrane::platform
