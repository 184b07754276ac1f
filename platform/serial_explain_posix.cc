#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "platform/port_map.h"
#include "platform/serial_explain.h"

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

}  // namespace

std::string ExplainSerialFailure(const std::string& port, const SerialResult& result) {
  const int com = ComPortNumber(port.c_str());
  // The device refuses a name that is no COM port without trying a path.
  if (com == 0 && result.fault == SerialFault::kNotFound && result.error == 0) {
    return port + ": no such port (COM1 to COM36)";
  }
  const std::string path = com > 0 ? ComDevicePath(port.c_str()) : port;
  const bool map_entry = com > 0 && path != OnBoardDevicePath(com);
  const std::string target = LinkTarget(path);
  std::string where = path + (target.empty() ? "" : " -> " + target);
  if (com > 0) where = port + " (" + where + ")";
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
      return where + ": busy: another program holds the port; stop it first";
    case SerialFault::kNotSerialDevice:
      return where + ": " + cause;
    default:
      return where + ": " + cause + system;
  }
}

}  // namespace veldrane::platform
