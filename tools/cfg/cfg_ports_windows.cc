// veldrane-cfg ports on Windows: the COM name is the device itself, so the list is of the COM
// ports that the system knows and the devices behind them.
#include <windows.h>

#include <string>

#include "platform/text/display_text.h"
#include "tools/cfg/cfg_ports.h"

namespace veldrane::cfg {

int ListPorts(const Streams& s, const platform::InventoryPlaces&) {
  std::fprintf(s.out, "COM ports (the COM name is the device; no port map on Windows):\n");
  int found = 0;
  for (int n = 1; n <= platform::kHighestComPort; ++n) {
    const std::string name = "COM" + std::to_string(n);
    char target[1024];
    if (QueryDosDeviceA(name.c_str(), target, sizeof target) == 0) continue;
    ++found;
    std::fprintf(s.out, "%s: %s\n", name.c_str(), platform::EscapeControls(target).c_str());
  }
  if (found == 0) std::fprintf(s.out, "No COM ports found.\n");
  return FinishOutput(s) ? kOk : kFailed;
}

}  // namespace veldrane::cfg
