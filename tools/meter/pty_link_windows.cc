// No pseudo-terminal to link to on Windows (--pty is refused before a link is asked for).
#include "tools/meter/pty_link.h"

namespace veldrane::meter {

PtyLink::~PtyLink() = default;

bool PtyLink::Make(const std::string& path, const std::string&, std::string* error) {
  *error = "cannot link " + path + ": Windows has no pseudo-terminals";
  return false;
}

}  // namespace veldrane::meter
