#include "host/runner/mqtt/mqtt_reach.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace veldrane::host {
namespace {

using Clock = std::chrono::steady_clock;

// One address: a non-blocking connection, waited for in slices that look at `stop`.
bool Answers(const std::string& address, int port, Clock::time_point deadline,
             const std::atomic<bool>& stop, std::string* error) {
  sockaddr_storage storage{};
  socklen_t size = 0;
  auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
  if (inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(static_cast<uint16_t>(port));
    size = sizeof *v4;
  } else if (inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(static_cast<uint16_t>(port));
    size = sizeof *v6;
  } else {
    *error = "'" + address + "' is no numeric address";
    return false;
  }
  int fd = ::socket(storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = std::strerror(errno);
    return false;
  }
  int result = ::connect(fd, reinterpret_cast<sockaddr*>(&storage), size);
  int cause = result == 0 ? 0 : errno;
  while (cause == EINPROGRESS && !stop.load()) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      cause = ETIMEDOUT;
      break;
    }
    pollfd p{fd, POLLOUT, 0};
    if (::poll(&p, 1, static_cast<int>(std::min<int64_t>(left.count(), 100))) > 0) {
      socklen_t length = sizeof cause;
      if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &cause, &length) != 0) cause = errno;
    }
  }
  ::close(fd);
  if (cause == EINPROGRESS) cause = ECANCELED;  // the stop came
  if (cause != 0) {
    *error = address + ": " +
             (cause == ETIMEDOUT ? std::string("no answer") : std::string(std::strerror(cause)));
  }
  return cause == 0;
}

}  // namespace

bool SystemResolve(const std::string& host, std::vector<std::string>* addresses,
                   std::string* error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_ADDRCONFIG;
  addrinfo* list = nullptr;
  int result = ::getaddrinfo(host.c_str(), nullptr, &hints, &list);
  if (result != 0) {
    *error = result == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(result);
    return false;
  }
  addresses->clear();
  for (addrinfo* a = list; a != nullptr; a = a->ai_next) {
    char text[INET6_ADDRSTRLEN] = {};
    const void* raw =
        a->ai_family == AF_INET
            ? static_cast<const void*>(&reinterpret_cast<sockaddr_in*>(a->ai_addr)->sin_addr)
            : &reinterpret_cast<sockaddr_in6*>(a->ai_addr)->sin6_addr;
    if ((a->ai_family != AF_INET && a->ai_family != AF_INET6) ||
        ::inet_ntop(a->ai_family, raw, text, sizeof text) == nullptr) {
      continue;
    }
    if (std::find(addresses->begin(), addresses->end(), text) == addresses->end()) {
      addresses->push_back(text);
    }
  }
  ::freeaddrinfo(list);
  if (addresses->empty()) *error = "no IPv4 or IPv6 address";
  return !addresses->empty();
}

bool IsNumericAddress(const std::string& host) {
  in6_addr any{};
  return inet_pton(AF_INET, host.c_str(), &any) == 1 ||
         inet_pton(AF_INET6, host.c_str(), &any) == 1;
}

std::string FirstAnswering(const std::vector<std::string>& addresses, int port,
                           std::chrono::milliseconds within, const std::atomic<bool>& stop,
                           std::string* error) {
  Clock::time_point end = Clock::now() + within;
  for (size_t i = 0; i < addresses.size() && !stop.load(); ++i) {
    Clock::time_point deadline = Clock::now() + (end - Clock::now()) / (addresses.size() - i);
    if (Answers(addresses[i], port, deadline, stop, error)) return addresses[i];
  }
  return "";
}

}  // namespace veldrane::host
