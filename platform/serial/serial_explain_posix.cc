#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/net/net_address.h"
#include "platform/serial/port_map.h"
#include "platform/serial/serial_explain.h"
#include "platform/serial/serial_inventory.h"
#include "platform/text/display_text.h"

namespace veldrane::platform {
namespace {

// The target of a symbolic link, or empty for anything else.
std::string LinkTarget(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return {};
  char target[4096];
  ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
  return n > 0 ? std::string(target, static_cast<size_t>(n)) : std::string();
}

std::string UserName() {
  const passwd* pw = getpwuid(geteuid());
  return pw ? pw->pw_name : "$USER";
}

std::string GroupName(gid_t gid) {
  const group* gr = getgrgid(gid);
  return gr ? gr->gr_name : std::to_string(gid);
}

std::string PermissionRemedy(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return {};
  const mode_t group_rw = S_IRGRP | S_IWGRP;
  if ((st.st_mode & group_rw) == group_rw && st.st_gid != 0) {
    std::string group = GroupName(st.st_gid);
    return ": the group " + group + " may open it; add this user to it with 'sudo usermod -aG " +
           group + " " + UserName() + "', then log in again";
  }
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
  const passwd* owner = getpwuid(st.st_uid);
  return std::string(" (owner ") + (owner ? owner->pw_name : std::to_string(st.st_uid)) +
         ", group " + GroupName(st.st_gid) + ", mode " + mode +
         "): give this user read and write access to the device";
}

std::string HostPort(const NetAddress& a) {
  return "port " + std::to_string(a.port) + " of " + a.host;
}

// The same port under the other protocol.
std::string AsProtocol(NetAddress a, NetProtocol protocol) {
  a.protocol = protocol;
  return NetAddressText(a);
}

// The cause of a device server's port that did not open, after "WHERE: ".
std::string NetCause(const std::string& text, const SerialResult& result) {
  NetAddress a;
  std::string problem;
  // The entry's text is anybody's: shown with its control characters escaped.
  if (!ParseNetAddress(text, &a, &problem)) {
    return "the port-map entry holds no valid address: " + EscapeControls(problem);
  }
  const std::string system = result.error ? std::strerror(result.error) : "";
  switch (result.fault) {
    case SerialFault::kNotFound:
      if (result.error == 0) {
        return "the host name " + a.host +
               " does not resolve: check the name in the entry, or write the address";
      }
      if (result.error == ECONNREFUSED) {
        return "connection refused: nothing listens on " + HostPort(a) +
               " (the device server is off, or has no such port; with ser2net, the accepter "
               "of the connection names the port)";
      }
      return a.host + " cannot be reached: " + system + " (check the address and the network)";
    case SerialFault::kTimedOut:
      if (result.error == EAGAIN) {
        return "the name service did not answer for " + a.host +
               " within a second: write the address instead of the name, or mend the name "
               "service";
      }
      return "no answer from " + HostPort(a) +
             " within a second (the device server is off, or a firewall drops the connection)";
    case SerialFault::kSettingsRefused:
      return std::string("the device server ") +
             (result.error == ETIMEDOUT ? "did not answer" : "refused") +
             " the Telnet COM-PORT-OPTION, so it takes no line settings: set its port up for "
             "RFC 2217 (ser2net: accepter telnet(rfc2217),tcp," +
             std::to_string(a.port) + "), or name it " + AsProtocol(a, NetProtocol::kRawTcp) +
             " and set the line on the device server";
    case SerialFault::kBusy:
      return "the device server closed the connection at once: another client holds the port "
             "(ser2net serves one at a time), or the device behind it does not open";
    case SerialFault::kPermissionDenied:
      return "permission denied: a firewall rule of this machine refuses the connection";
    default:
      return std::string(SerialFaultText(result.fault)) + (system.empty() ? "" : ": " + system);
  }
}

}  // namespace

std::string ExplainSerialFailure(const std::string& port, const SerialResult& result) {
  const int com = ComPortNumber(port.c_str());
  // The device refuses a name that is no COM port without trying a path.
  if (com == 0 && result.fault == SerialFault::kNotFound && result.error == 0) {
    return port + ": no such port (COM1 to COM" + std::to_string(kHighestComPort) + ")";
  }
  const std::string path = com > 0 ? ComDevicePath(port.c_str()) : port;
  const bool map_entry = com > 0 && path != OnBoardDevicePath(com);
  const std::string address = PortEntryAddress(path);
  const std::string target = address.empty() ? LinkTarget(path) : EscapeControls(address);
  std::string where = path + (target.empty() ? "" : " -> " + target);
  if (com > 0) where = port + " (" + where + ")";
  if (map_entry && !address.empty()) return where + ": " + NetCause(address, result);
  // A device path that is a port-map entry of a device server (the meter's --port).
  if (!address.empty()) return where + ": a device server's port, not a device on this machine";
  const std::string cause = SerialFaultText(result.fault);
  const std::string system =
      result.error != 0 ? std::string(": ") + std::strerror(result.error) : std::string();

  switch (result.fault) {
    case SerialFault::kNotFound:
      if (!target.empty()) {
        return where + ": not found: " + (map_entry ? "the port-map entry" : "the link") +
               " leads nowhere (an adapter unplugged, or a wrong link)";
      }
      if (com > 0 && !map_entry) {
        return where + ": not found, and the port map has no entry com" + std::to_string(com) +
               " for it: link the adapter with 'ln -s /dev/ttyUSB0 " + PortMapEntry(com) + "'";
      }
      return where + ": " + cause + system;
    case SerialFault::kPermissionDenied:
      return where + ": " + cause + PermissionRemedy(path);
    case SerialFault::kBusy:
      if (result.error == EBUSY) {
        // The open itself was refused: the terminal carries the exclusive mark, which a holder
        // set or a program that ended left behind while something else keeps it open.
        return where +
               ": busy: the terminal is marked for one program alone (TIOCEXCL): another "
               "program holds it, or one that ended left the mark while something else keeps "
               "the terminal open (the mark goes when every program has closed it); stop them";
      }
      return where + ": busy: another program holds the port; stop it first";
    case SerialFault::kNotSerialDevice:
      return where + ": " + cause;
    default:
      return where + ": " + cause + system;
  }
}

std::string ExplainHandshakeProblem(const std::string& port) {
  const int com = ComPortNumber(port.c_str());
  const std::string path = com > 0 ? ComDevicePath(port.c_str()) : port;
  const bool map_entry = com > 0 && path != OnBoardDevicePath(com);
  const std::string address = map_entry ? PortEntryAddress(path) : std::string();
  std::string where = path;
  std::string lacking;
  NetAddress a;
  if (!address.empty()) {
    where += " -> " + EscapeControls(address);
    if (!ParseNetAddress(address, &a, nullptr) || a.protocol != NetProtocol::kRawTcp) return {};
    lacking = "raw TCP carries none: name the port " + AsProtocol(a, NetProtocol::kRfc2217) +
              " if the device server speaks RFC 2217, or clear the handshake option";
  } else {
    char* real = realpath(path.c_str(), nullptr);
    const std::string device = real ? real : "";
    std::free(real);
    if (device.rfind("/dev/pts/", 0) != 0) return {};
    if (device != path) where += " -> " + device;
    lacking = "a pseudo-terminal has none: clear the handshake option for a virtual line";
  }
  if (com > 0) where = port + " (" + where + ")";
  return where + ": the RTS/CTS handshake needs modem lines, and " + lacking +
         "; until then every frame fails";
}

}  // namespace veldrane::platform
