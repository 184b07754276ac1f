// COM port names on this system. Users and messages name ports as the station list's host does
// ("COM3", "\\.\COM12"); the port map turns COMn into a device path: the entry `comN` of the
// port-map directory when there is one (normally a symbolic link to /dev/serial/by-id/... or
// /dev/ttyUSB0, so an adapter keeps its port across re-plugging), else /dev/ttyS(n-1). The
// directory is /etc/veldrane/ports unless the process sets VELDRANE_PORTS. An entry may also name
// a device server's port (net_address.h): a symbolic link whose target is, or a regular file
// whose first line is, "tcp://HOST:PORT" or "rfc2217://HOST:PORT". On Windows the COM name is the
// device itself (port_map_windows.cc): COM1 to COM9, \\.\COM10 and up.
#pragma once

#include <string>

namespace veldrane::platform {

inline constexpr const char* kPortMapDir = "/etc/veldrane/ports";
inline constexpr const char* kPortMapVariable = "VELDRANE_PORTS";

// n for "COMn" or "\\.\COMn" (letters in any case, n from 1 on); 0 for any other name.
int ComPortNumber(const char* port_name);
// The port-map entry of COMn (n from 1), whether it exists or not.
std::string PortMapEntry(int n);
// The device path of a port: its port-map entry when there is one, else /dev/ttyS(n-1); empty
// for a name that is not a COM port. A device opened keeps the path it was opened with.
std::string ComDevicePath(const char* port_name);
// The device-server address that the port-map entry at `path` names, as written there (valid
// or not, see LooksLikeNetAddress); empty when it names a device, or there is no entry.
std::string PortEntryAddress(const std::string& path);

}  // namespace veldrane::platform
