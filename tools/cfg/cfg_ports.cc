#include "tools/cfg/cfg_ports.h"

#include <sys/stat.h>

#include <string>

#include "platform/serial/port_map.h"
#include "platform/text/display_text.h"

namespace veldrane::cfg {
namespace {

using platform::EscapeControls;

bool Exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

// The lowest COM numbers from `after` on that nothing answers to: no port-map entry and no
// on-board device, so that a link made there changes no working port.
int FreeComPort(int after) {
  for (int n = after + 1; n <= platform::kHighestComPort; ++n) {
    std::string path = platform::ComDevicePath(("COM" + std::to_string(n)).c_str());
    if (path == platform::OnBoardDevicePath(n) && !Exists(path)) return n;
  }
  return 0;
}

}  // namespace

int ListPorts(const Streams& s, const platform::InventoryPlaces& places) {
  const platform::SerialInventory inventory = platform::TakeSerialInventory(places);
  std::string folders;
  for (const std::string& dir : platform::PortMapDirs()) {
    folders += (folders.empty() ? "" : ", then ") + EscapeControls(dir);
  }
  std::fprintf(s.out, "Port map: %s\n", folders.c_str());
  if (inventory.devices.empty()) std::fprintf(s.out, "No serial devices found.\n");
  int free_port = 0;
  for (const platform::SerialDeviceInfo& d : inventory.devices) {
    std::string line = EscapeControls(d.device) + ":";
    for (size_t i = 0; i < d.com.size(); ++i) {
      line += (i == 0 ? " COM" : ", COM") + std::to_string(d.com[i]);
      line += d.through[i] == platform::OnBoardDevicePath(d.com[i])
                  ? " (on-board)"
                  : " through " + EscapeControls(d.through[i]);
    }
    if (d.com.empty()) line += " no COM port";
    std::fprintf(s.out, "%s\n", line.c_str());
    for (const std::string& name : d.stable) {
      std::fprintf(s.out, "    %s\n", EscapeControls(name).c_str());
    }
    if (d.com.empty()) {
      // The stable name keeps the COM number when the adapter moves to another socket.
      const std::string target = d.stable.empty() ? d.device : d.stable.front();
      free_port = FreeComPort(free_port);
      const std::string entry = free_port > 0 ? platform::PortMapEntry(free_port)
                                              : platform::PortMapDirs().front() + "/comN";
      std::fprintf(s.out, "    give it a COM port: ln -s %s %s\n", EscapeControls(target).c_str(),
                   EscapeControls(entry).c_str());
    }
  }
  for (const platform::LooseMapEntry& e : inventory.loose) {
    std::string where = EscapeControls(e.entry);
    if (!e.target.empty()) where += " -> " + EscapeControls(e.target);
    const std::string address = platform::PortEntryAddress(e.entry);
    const bool network = !address.empty();
    if (network && e.target.empty()) where += " -> " + EscapeControls(address);
    std::fprintf(s.out, "COM%d: %s: %s\n", e.com, where.c_str(),
                 network    ? "a device server's port on the network"
                 : e.exists ? "not a serial device of this machine (a pseudo-terminal, or "
                              "another kind of device)"
                            : "leads nowhere (an adapter unplugged, or a wrong link)");
  }
  return FinishOutput(s) ? kOk : kFailed;
}

}  // namespace veldrane::cfg
