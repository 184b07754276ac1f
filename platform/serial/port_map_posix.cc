#include <netdb.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "platform/net/net_address.h"
#include "platform/net/net_sys.h"
#include "platform/serial/port_map.h"

namespace veldrane::platform {
std::vector<std::string> PortMapDirs() {
  const char* list = std::getenv(kPortMapVariable);
  if (!list || !*list) return {kPortMapDir, kPortLinkDir};
  std::vector<std::string> dirs;
  for (const char* p = list;; ++p) {
    const char* end = std::strchr(p, ':');
    if (!end) end = p + std::strlen(p);
    if (end > p) dirs.emplace_back(p, end);
    if (!*end) break;
    p = end;
  }
  if (dirs.empty()) return {kPortMapDir, kPortLinkDir};
  return dirs;
}

std::string PortMapEntry(int n) {
  return PortMapDirs().front() + "/com" + std::to_string(n);
}

std::string OnBoardDevicePath(int n) {
  return "/dev/ttyS" + std::to_string(n - 1);
}

std::string ComDevicePath(const char* port_name) {
  int n = ComPortNumber(port_name);
  if (n == 0) return std::string();
  // An entry counts even when its link leads nowhere now (an adapter that is unplugged): the
  // port then fails to open instead of falling back to a later folder or an on-board port.
  for (const std::string& dir : PortMapDirs()) {
    std::string entry = dir + "/com" + std::to_string(n);
    struct stat st {};
    if (lstat(entry.c_str(), &st) == 0) return entry;
  }
  return OnBoardDevicePath(n);
}

std::string PortEntryAddress(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return {};
  std::string text;
  if (S_ISLNK(st.st_mode)) {
    char target[4096];
    ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
    if (n > 0) text.assign(target, static_cast<size_t>(n));
  } else if (S_ISREG(st.st_mode)) {
    // The first line, without the blanks around it (an editor's CR LF or a trailing space).
    // A long file (no entry of ours) is not read whole.
    char head[1024];
    std::ifstream file(path, std::ios::binary);
    file.read(head, sizeof head);
    text.assign(head, static_cast<size_t>(file.gcount()));
    text = text.substr(0, text.find('\n'));
    size_t first = text.find_first_not_of(" \t\r");
    size_t last = text.find_last_not_of(" \t\r");
    text = first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
  }
  return LooksLikeNetAddress(text) ? text : std::string();
}

std::vector<std::string> DeviceServerEndpoints(const std::string& path, int timeout_ms) {
  NetAddress address;
  if (!ParseNetAddress(PortEntryAddress(path), &address, nullptr)) return {};
  const std::string port = std::to_string(address.port);
  auto endpoint = [&](const std::string& host) {
    return (host.find(':') == std::string::npos ? host : "[" + host + "]") + ":" + port;
  };
  std::vector<std::string> endpoints;
  addrinfo* list = nullptr;
  if (NetSys().resolve(address.host.c_str(), port.c_str(), &list, timeout_ms, nullptr) == 0) {
    for (const addrinfo* a = list; a; a = a->ai_next) {
      char host[NI_MAXHOST];
      if (getnameinfo(a->ai_addr, a->ai_addrlen, host, sizeof host, nullptr, 0, NI_NUMERICHOST) ==
          0) {
        endpoints.push_back(endpoint(host));
      }
    }
    NetSys().free_addresses(list);
  }
  if (endpoints.empty()) {
    std::string host = address.host;
    std::transform(host.begin(), host.end(), host.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    endpoints.push_back(endpoint(host));
  }
  return endpoints;
}

}  // namespace veldrane::platform
