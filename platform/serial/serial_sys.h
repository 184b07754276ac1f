// The system calls of the POSIX serial device, reached through one replaceable table so that a
// test can fail any call (the Nth ioctl, a write that reports EIO) or run the device on time of
// its own. Each call answers as the system call does: -1 with the reason in errno.
#pragma once

#include <poll.h>
#include <sys/types.h>
#include <termios.h>

#include <cstddef>
#include <cstdint>

#include "platform/serial/serial_device.h"

namespace veldrane::platform {

struct SerialSysApi {
  int (*open)(const char* path, int flags);
  int (*close)(int fd);
  int (*ioctl)(int fd, unsigned long request, void* arg);
  int (*flock)(int fd, int operation);
  int (*tcgetattr)(int fd, termios* t);
  int (*tcsetattr)(int fd, int actions, const termios* t);
  int (*tcflush)(int fd, int queue);
  ssize_t (*write)(int fd, const void* bytes, size_t count);
  int (*poll)(pollfd* fds, nfds_t count, int timeout_ms);
  // The monotonic clock in microseconds, and a sleep.
  uint64_t (*now_us)();
  void (*sleep_us)(uint64_t us);
};

// The table in use (the system's unless a test installed another).
const SerialSysApi& SerialSys();
// Installs a replacement; null restores the system's. Returns the previous one.
const SerialSysApi* SetSerialSysApi(const SerialSysApi* api);
const SerialSysApi& SystemSerialSysApi();

// Opens the terminal device at `path` for reading and writing, non-blocking, and takes its
// advisory lock, so that no other program that locks it (the driver, the virtual meter) shares
// it: the descriptor in `fd`, or the cause (busy when another holds the lock; not a serial
// device when what opened is no terminal) with nothing left open. Through SerialSys().
SerialResult OpenTerminal(const char* path, int* fd);

}  // namespace veldrane::platform
