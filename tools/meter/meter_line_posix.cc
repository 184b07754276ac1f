// The meter's line on termios: raw mode, the line settings, no flow control, read with poll.
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/serial/serial_explain.h"
#include "platform/serial/serial_sys.h"
#include "platform/serial/termios_speed.h"
#include "tools/meter/meter_line.h"

namespace veldrane::meter {
namespace {

std::string SystemError(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

// Gives the terminal open at `fd` to `group` (a name or a number), readable and writable by it.
bool GiveToGroup(int fd, const std::string& name, const std::string& group, std::string* error) {
  gid_t gid = 0;
  if (const struct group* g = getgrnam(group.c_str())) {
    gid = g->gr_gid;
  } else if (!group.empty() && group.find_first_not_of("0123456789") == std::string::npos &&
             group.size() < 10) {
    gid = static_cast<gid_t>(std::strtoul(group.c_str(), nullptr, 10));
  } else {
    *error = "--pty-group: no group " + group + " on this machine";
    return false;
  }
  if (fchown(fd, static_cast<uid_t>(-1), gid) != 0 || fchmod(fd, 0660) != 0) {
    *error = SystemError("cannot give " + name + " to the group " + group +
                         " (root may give it to any group, a user to a group of its own)");
    return false;
  }
  return true;
}

bool Configure(int fd, const LineSettings& settings, std::string* error) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) {
    *error = SystemError("cannot read the line settings");
    return false;
  }
  cfmakeraw(&tio);
  speed_t speed = platform::TermiosSpeed(settings.baud);
  if (speed == B0) {
    *error = "unsupported baud rate " + std::to_string(settings.baud);
    return false;
  }
  cfsetispeed(&tio, speed);
  cfsetospeed(&tio, speed);
  tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
  tio.c_cflag |= (settings.data_bits == 7 ? CS7 : CS8) | CLOCAL | CREAD;
  if (settings.parity != 'N') tio.c_cflag |= PARENB | (settings.parity == 'O' ? PARODD : 0);
  if (settings.stop_bits == 2) tio.c_cflag |= CSTOPB;
  tio.c_iflag &= ~(IXON | IXOFF | IXANY);
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  if (tcsetattr(fd, TCSANOW, &tio) != 0) {
    *error = SystemError("cannot set the line settings");
    return false;
  }
  return true;
}

// The line settings a terminal is set to.
LineSettings SettingsOf(const termios& tio) {
  LineSettings s;
  s.baud = platform::TermiosBaud(cfgetospeed(&tio));
  s.data_bits = (tio.c_cflag & CSIZE) == CS7   ? 7
                : (tio.c_cflag & CSIZE) == CS8 ? 8
                : (tio.c_cflag & CSIZE) == CS6 ? 6
                                               : 5;
  s.parity = !(tio.c_cflag & PARENB) ? 'N' : (tio.c_cflag & PARODD) ? 'O' : 'E';
  s.stop_bits = (tio.c_cflag & CSTOPB) ? 2 : 1;
  return s;
}

bool operator==(const LineSettings& a, const LineSettings& b) {
  return a.baud == b.baud && a.parity == b.parity && a.data_bits == b.data_bits &&
         a.stop_bits == b.stop_bits;
}

class TerminalLine final : public MeterLine {
 public:
  TerminalLine(std::string name, const LineSettings& settings) : settings_(settings) {
    name_ = std::move(name);
  }
  ~TerminalLine() override {
    if (keep_fd_ >= 0) close(keep_fd_);
    if (read_fd_ >= 0) close(read_fd_);
  }

  long Read(uint8_t* buffer, size_t size, int timeout_ms, std::string* error) override;

  int read_fd_ = -1;
  int keep_fd_ = -1;  // the pseudo-terminal's other side, held open

 private:
  // A writer that ended without clearing the terminal's exclusive mark (killed, crashed) would
  // leave it refusing every later writer but root while this side keeps it open. The mark
  // with no writer holding the terminal's lock is such a leftover, and goes.
  void ClearLeftExclusiveMark() {
#ifdef TIOCGEXCL
    int exclusive = 0;
    if (keep_fd_ < 0 || ioctl(keep_fd_, TIOCGEXCL, &exclusive) != 0 || exclusive == 0) return;
    if (flock(keep_fd_, LOCK_EX | LOCK_NB) != 0) return;  // a writer holds it
    ioctl(keep_fd_, TIOCNXCL);
    flock(keep_fd_, LOCK_UN);
#endif
  }

  // A writer on the pseudo-terminal (a driver, a device server) set other line settings.
  void WatchSettings() {
    termios tio{};
    if (keep_fd_ < 0 || tcgetattr(keep_fd_, &tio) != 0) return;
    LineSettings now = SettingsOf(tio);
    if (now == settings_) return;
    settings_ = now;
    Notice("line settings " + DescribeLine(now) + " (set by the writer)");
  }

  LineSettings settings_;
};

}  // namespace

std::unique_ptr<MeterLine> MeterLine::OpenDevice(const std::string& path,
                                                 const LineSettings& settings, std::string* error) {
  auto line = std::make_unique<TerminalLine>(path, settings);
  // Locked as the driver locks its port, so that two programs never split one line's bytes.
  platform::SerialResult opened = platform::OpenTerminal(path.c_str(), &line->read_fd_);
  if (!opened.ok()) {
    *error = platform::ExplainSerialFailure(path, opened);
    return nullptr;
  }
  if (!Configure(line->read_fd_, settings, error)) return nullptr;
  return line;
}

std::unique_ptr<MeterLine> MeterLine::CreatePty(const LineSettings& settings,
                                                const std::string& group, std::string* error) {
  auto line = std::make_unique<TerminalLine>("", settings);
  line->read_fd_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  char name[128];
  if (line->read_fd_ < 0 || grantpt(line->read_fd_) != 0 || unlockpt(line->read_fd_) != 0 ||
      ptsname_r(line->read_fd_, name, sizeof name) != 0) {
    *error = SystemError("cannot create a pseudo-terminal");
    return nullptr;
  }
  line->name_ = name;
  line->keep_fd_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (line->keep_fd_ < 0) {
    *error = SystemError("cannot open " + line->name_);
    return nullptr;
  }
  if (!group.empty() && !GiveToGroup(line->keep_fd_, line->name_, group, error)) return nullptr;
  // Writers get a raw line (no CR/LF translation) until they set their own.
  if (!Configure(line->keep_fd_, settings, error)) return nullptr;
  return line;
}

long TerminalLine::Read(uint8_t* buffer, size_t size, int timeout_ms, std::string* error) {
  WatchSettings();
  ClearLeftExclusiveMark();
  pollfd pfd{read_fd_, POLLIN, 0};
  int ready = poll(&pfd, 1, timeout_ms);
  if (ready < 0) return errno == EINTR ? 0 : (*error = SystemError("poll"), -1);
  if (ready == 0) return 0;
  ssize_t count = read(read_fd_, buffer, size);
  if (count > 0) return count;
  if (count < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
  *error = count == 0 ? "the line was closed" : SystemError("the line failed");
  return -1;
}

}  // namespace veldrane::meter
