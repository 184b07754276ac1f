#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>

#include "platform/serial/serial_sys.h"

namespace veldrane::platform {
namespace {

SerialFault OpenFault(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENXIO:  // a device node without its device
    case ENODEV:
    case ELOOP:
      return SerialFault::kNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
      return SerialFault::kPermissionDenied;
    case EBUSY:  // a terminal another opened with TIOCEXCL
      return SerialFault::kBusy;
    case EISDIR:
      return SerialFault::kNotSerialDevice;
    default:
      return SerialFault::kIoError;
  }
}

}  // namespace

SerialResult OpenTerminal(const char* path, int* fd) {
  const SerialSysApi& sys = SerialSys();
  *fd = -1;
  int f = sys.open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (f < 0) return {OpenFault(errno), errno};
  SerialResult result;
  // The lock comes before anything that changes the terminal, so that a port another program
  // holds is left exactly as it was. A system without locks only loses the protection.
  if (sys.flock(f, LOCK_EX | LOCK_NB) != 0 && (errno == EWOULDBLOCK || errno == EAGAIN)) {
    result = {SerialFault::kBusy, errno};
  }
  // A file, /dev/null, /dev/zero, /dev/urandom or a FIFO opens too, and would swallow every
  // frame as sent: a port whose settings cannot be read is refused, whatever the reason.
  termios t{};
  if (result.ok() && sys.tcgetattr(f, &t) != 0) {
    const int error = errno;
    const bool no_terminal = error == ENOTTY || error == EINVAL;
    result = {no_terminal ? SerialFault::kNotSerialDevice : SerialFault::kIoError, error};
  }
  if (!result.ok()) {
    sys.close(f);
    return result;
  }
  *fd = f;
  return result;
}

}  // namespace veldrane::platform
