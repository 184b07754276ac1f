// The system calls of the network line (serial_net_posix.cc), reached through one replaceable
// table so that a test can fail any call (the Nth connect, a send that reports ECONNRESET) or
// run the line on time of its own. Each call answers as the system call does: -1 with the
// reason in errno; `resolve` answers as getaddrinfo does.
#pragma once

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace veldrane::platform {

class StopSignal;

struct NetSysApi {
  // getaddrinfo for a TCP connection, given up after `timeout_ms`, or as soon as `stop` (may be
  // null) is raised, with EAI_AGAIN. The list goes back through free_addresses.
  int (*resolve)(const char* host, const char* service, addrinfo** result, int timeout_ms,
                 const StopSignal* stop);
  void (*free_addresses)(addrinfo* list);
  int (*socket)(int domain, int type, int protocol);
  int (*connect)(int fd, const sockaddr* address, socklen_t length);
  int (*getsockopt)(int fd, int level, int name, void* value, socklen_t* length);
  int (*setsockopt)(int fd, int level, int name, const void* value, socklen_t length);
  int (*poll)(pollfd* fds, nfds_t count, int timeout_ms);
  ssize_t (*send)(int fd, const void* bytes, size_t count, int flags);
  ssize_t (*recv)(int fd, void* bytes, size_t count, int flags);
  int (*ioctl)(int fd, unsigned long request, void* arg);
  int (*close)(int fd);
  // The monotonic clock in microseconds, and a sleep.
  uint64_t (*now_us)();
  void (*sleep_us)(uint64_t us);
};

// The table in use (the system's unless a test installed another).
const NetSysApi& NetSys();
// Installs a replacement; null restores the system's. Returns the previous one.
const NetSysApi* SetNetSysApi(const NetSysApi* api);
const NetSysApi& SystemNetSysApi();

}  // namespace veldrane::platform
