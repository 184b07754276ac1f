#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "platform/clock/clock.h"
#include "platform/replaceable_api.h"
#include "platform/retry_eintr.h"
#include "platform/serial/serial_sys.h"

namespace veldrane::platform {
namespace {

int Open(const char* path, int flags) {
  return RetryOnEintr([&] { return ::open(path, flags); });
}

// close is not retried: the descriptor is gone even when it reports EINTR.
int Close(int fd) {
  return ::close(fd);
}

int Ioctl(int fd, unsigned long request, void* arg) {
  return RetryOnEintr([&] { return ::ioctl(fd, request, arg); });
}

int Flock(int fd, int operation) {
  return RetryOnEintr([&] { return ::flock(fd, operation); });
}

int TcGetAttr(int fd, termios* t) {
  return ::tcgetattr(fd, t);
}

int TcSetAttr(int fd, int actions, const termios* t) {
  return RetryOnEintr([&] { return ::tcsetattr(fd, actions, t); });
}

int TcFlush(int fd, int queue) {
  return ::tcflush(fd, queue);
}

ssize_t Write(int fd, const void* bytes, size_t count) {
  return RetryOnEintr([&] { return ::write(fd, bytes, count); });
}

// Not retried: the caller recomputes what is left of its time.
int Poll(pollfd* fds, nfds_t count, int timeout_ms) {
  return ::poll(fds, count, timeout_ms);
}

const SerialSysApi kSystem = {&Open,    &Close, &Ioctl, &Flock,       &TcGetAttr, &TcSetAttr,
                              &TcFlush, &Write, &Poll,  &MonotonicUs, &SleepUs};
ReplaceableApi<SerialSysApi> g_api(&kSystem);

}  // namespace

const SerialSysApi& SerialSys() {
  return g_api.Get();
}

const SerialSysApi* SetSerialSysApi(const SerialSysApi* api) {
  return g_api.Set(api);
}

const SerialSysApi& SystemSerialSysApi() {
  return g_api.System();
}

}  // namespace veldrane::platform
