#include <sys/ioctl.h>
#include <unistd.h>

#include "platform/console.h"

namespace veldrane::platform {

bool StdoutIsTerminal() {
  return isatty(STDOUT_FILENO) == 1;
}

void UseUtf8Output() {}

bool PrepareLiveView() {
  return StdoutIsTerminal();
}

size_t TerminalRows() {
  winsize size{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0) return size.ws_row;
  return 24;
}

}  // namespace veldrane::platform
