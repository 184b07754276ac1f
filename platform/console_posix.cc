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

}  // namespace veldrane::platform
