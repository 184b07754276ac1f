// COM port names on this system. Users and messages name ports as the station list's host does
// ("COM3", "\\.\COM12"); the port map turns COMn into a device path: the entry `comN` of the
// first port-map folder that has one (normally a symbolic link to /dev/serial/by-id/... or
// /dev/ttyUSB0, so an adapter keeps its port across re-plugging), else /dev/ttyS(n-1). The
// folders are /etc/veldrane/ports, where the integrator links adapters by hand, then
// /dev/veldrane, where udev rules link them (SYMLINK+="veldrane/com3"). A process that sets
// VELDRANE_PORTS (one folder, or several separated by ':') searches those instead, and nothing
// of the machine's own map: the demo and the tests run the same on any machine. An entry may
// also name a device server's port (net_address.h): a symbolic link whose target is, or a
// regular file whose first line is, "tcp://HOST:PORT" or "rfc2217://HOST:PORT". On Windows the
// COM name is the device itself (port_map_windows.cc): COM1 to COM9, \\.\COM10 and up.
#pragma once

#include <string>
#include <vector>

namespace veldrane::platform {

inline constexpr const char* kPortMapDir = "/etc/veldrane/ports";
inline constexpr const char* kPortLinkDir = "/dev/veldrane";
inline constexpr const char* kPortMapVariable = "VELDRANE_PORTS";

// n for "COMn" or "\\.\COMn" (letters in any case, n from 1 on); 0 for any other name.
int ComPortNumber(const char* port_name);
// The port-map folders, in the order they are searched.
std::vector<std::string> PortMapDirs();
// The entry of COMn (n from 1) in the first port-map folder, where a link for it belongs,
// whether it exists or not.
std::string PortMapEntry(int n);
// The on-board device that COMn names where no port-map folder has an entry for it.
std::string OnBoardDevicePath(int n);
// The device path of a port: its first port-map entry when there is one, else
// OnBoardDevicePath; empty for a name that is not a COM port. A device opened keeps the path it
// was opened with.
std::string ComDevicePath(const char* port_name);
// The device-server address that the port-map entry at `path` names, as written there (valid
// or not, see LooksLikeNetAddress); empty when it names a device, or there is no entry.
std::string PortEntryAddress(const std::string& path);
// The endpoints of the device server that the port-map entry at `path` names, so that two
// spellings of one server compare equal: each address its host resolves to within `timeout_ms`,
// with the port ("127.0.0.1:4001", "[::1]:4001"); the host as written (in small letters) when
// it does not resolve. Empty when the entry names no device server, and on Windows.
std::vector<std::string> DeviceServerEndpoints(const std::string& path, int timeout_ms);

}  // namespace veldrane::platform
