// The serial device on termios and ioctl. Every system call goes through SerialSys().
//
// Beyond opening, it mends one thing of its own: a device that went away (an unplugged USB
// adapter: EIO, ENXIO, ENODEV or a hang-up) is closed, and the same device path is opened again
// before a later frame, at most once a second. Until that succeeds every frame fails. The path
// is the one the port was opened with: a port-map entry that vanishes fails until it is back
// (then the open follows it), and never lets the port fall back to an on-board one.
#include <linux/serial.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "platform/serial/port_map.h"
#include "platform/serial/serial_device.h"
#include "platform/serial/serial_reopen.h"
#include "platform/serial/serial_settings.h"
#include "platform/serial/serial_sys.h"
#include "platform/serial/termios_speed.h"

namespace veldrane::platform {
namespace {

constexpr uint64_t kReopenIntervalUs = 1000000;
// How often the transmitter is asked whether it is empty.
constexpr uint64_t kPollIntervalUs = 1000;

// Errors that mean the device itself is gone.
bool DeviceGone(int error) {
  return error == EIO || error == ENXIO || error == ENODEV;
}

SerialResult IoError(int error) {
  return {SerialFault::kIoError, error};
}

constexpr SerialResult kTimeout{SerialFault::kTimedOut, 0};

class PosixSerialDevice final : public SerialDevice {
 public:
  ~PosixSerialDevice() override { Close(); }

  SerialResult Open(const char* port_name, const SerialSettings& settings) override {
    Close();
    reopen_.Restart();
    settings_ = settings;
    if (!SettingsInRange(settings)) return Fail({SerialFault::kSettingsRefused, 0});
    path_ = ComDevicePath(port_name);
    if (path_.empty()) return Fail({SerialFault::kNotFound, 0});
    return OpenDevice();
  }

  SerialResult Purge() override {
    if (SerialResult r = Usable(); !r.ok()) return r;
    return Check(Sys().tcflush(fd_, TCIOFLUSH));
  }

  SerialResult SetRts(bool up) override {
    if (SerialResult r = Usable(); !r.ok()) return r;
    int bits = TIOCM_RTS;
    SerialResult r = Check(Sys().ioctl(fd_, up ? TIOCMBIS : TIOCMBIC, &bits));
    // A terminal without modem lines does not take the setting.
    if (!r.ok() && fd_ >= 0) r.fault = SerialFault::kSettingsRefused;
    return r;
  }

  ModemLine Cts() override {
    if (!Usable().ok()) return ModemLine::kDown;
    int status = 0;
    if (!Check(Sys().ioctl(fd_, TIOCMGET, &status)).ok()) {
      return fd_ < 0 ? ModemLine::kDown : ModemLine::kUnsupported;
    }
    return (status & TIOCM_CTS) ? ModemLine::kUp : ModemLine::kDown;
  }

  SerialResult Write(const uint8_t* bytes, size_t length, uint32_t timeout_ms) override {
    if (SerialResult r = Usable(); !r.ok()) return r;
    const SerialSysApi& sys = Sys();
    write_start_us_ = sys.now_us();
    written_ = 0;
    const uint64_t deadline = write_start_us_ + uint64_t{timeout_ms} * 1000;
    while (written_ < length) {
      ssize_t n = sys.write(fd_, bytes + written_, length - written_);
      if (n > 0) {
        written_ += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno != EAGAIN) return Check(-1);
      // The driver's buffer is full: wait for room, within the time left.
      uint64_t now = sys.now_us();
      if (now >= deadline) return kTimeout;
      pollfd p{fd_, POLLOUT, 0};
      int ready = sys.poll(&p, 1, static_cast<int>((deadline - now + 999) / 1000));
      if (ready < 0 && errno != EINTR) return Check(-1);
      if (ready > 0 && (p.revents & POLLHUP)) {
        Lose(EIO);
        return IoError(EIO);
      }
      if (ready > 0 && (p.revents & (POLLERR | POLLNVAL))) return IoError(EIO);
    }
    return SerialResult::Ok();
  }

  SerialResult WaitTransmitted(uint32_t timeout_ms) override {
    if (SerialResult r = Usable(); !r.ok()) return r;
    const SerialSysApi& sys = Sys();
    const uint64_t deadline = sys.now_us() + uint64_t{timeout_ms} * 1000;
    // First the driver's buffer: TIOCOUTQ down to 0. A device that cannot tell counts as empty.
    for (;;) {
      int queued = 0;
      if (sys.ioctl(fd_, TIOCOUTQ, &queued) != 0) {
        if (DeviceGone(errno)) return Check(-1);
        break;
      }
      if (queued <= 0) break;
      if (!PauseUntil(deadline)) return kTimeout;
    }
    // Then the transmitter's shift register, where the UART tells.
    for (;;) {
      unsigned int lsr = 0;
      if (sys.ioctl(fd_, TIOCSERGETLSR, &lsr) != 0) {
        if (DeviceGone(errno)) return Check(-1);
        // No answer (USB adapters, pseudo-terminals): the bytes need their character time
        // from the start of the write.
        uint64_t done = write_start_us_ + CharacterTimeUs(settings_, written_);
        uint64_t now = sys.now_us();
        if (done > deadline) {
          if (deadline > now) sys.sleep_us(deadline - now);
          return kTimeout;
        }
        if (done > now) sys.sleep_us(done - now);
        return SerialResult::Ok();
      }
      if (lsr & TIOCSER_TEMT) return SerialResult::Ok();
      if (!PauseUntil(deadline)) return kTimeout;
    }
  }

  bool TakeReturned() override { return reopen_.TakeReturned(); }
  bool Lost() const override { return reopen_.lost(); }

 private:
  static const SerialSysApi& Sys() { return SerialSys(); }

  SerialResult OpenDevice() {
    int fd = -1;
    if (SerialResult r = OpenTerminal(path_.c_str(), &fd); !r.ok()) return Fail(r);
    // No sharing: beside the lock, TIOCEXCL turns away other opens of the terminal (a
    // privileged process excepted) by programs that do not lock.
    Sys().ioctl(fd, TIOCEXCL, nullptr);
    fd_ = fd;
    Configure();
    return SerialResult::Ok();
  }

  // The line settings. Failures are ignored: once open, the port counts as open.
  void Configure() {
    const SerialSysApi& sys = Sys();
    termios t{};
    if (sys.tcgetattr(fd_, &t) == 0) {
      // Raw bytes both ways, nothing added or taken out.
      t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                          ICRNL | IXON | IXOFF | IXANY | INPCK);
      t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
      t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
      // No automatic flow control: the handshake is made by hand around each frame.
      t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
      t.c_cflag |= CREAD | CLOCAL | (settings_.byte_size == 7 ? CS7 : CS8);
      if (settings_.parity != Parity::kNone) {
        t.c_cflag |= PARENB | (settings_.parity == Parity::kOdd ? PARODD : 0);
        t.c_iflag |= INPCK;
      }
      if (settings_.stop_bits == 2) t.c_cflag |= CSTOPB;
      speed_t code = TermiosSpeed(settings_.baud_rate);
      cfsetispeed(&t, code);
      cfsetospeed(&t, code);
      t.c_cc[VMIN] = 0;
      t.c_cc[VTIME] = 0;
      sys.tcsetattr(fd_, TCSANOW, &t);
    }
    // DTR and RTS up for good in normal mode; both down between frames with the handshake.
    int bits = TIOCM_DTR | TIOCM_RTS;
    sys.ioctl(fd_, settings_.rts_cts ? TIOCMBIC : TIOCMBIS, &bits);
  }

  void Close() {
    if (fd_ < 0) return;
    // The exclusive mark belongs to the terminal, not to this descriptor: left set, it outlives
    // the program while anything else keeps the terminal open (the far side of a
    // pseudo-terminal), and every later open but root's is refused.
    Sys().ioctl(fd_, TIOCNXCL, nullptr);
    Sys().close(fd_);
    fd_ = -1;
  }

  SerialResult Fail(SerialResult r) { return reopen_.Fail(r); }

  // The device went away: close it and try it again later.
  void Lose(int error) {
    Close();
    reopen_.Lose(IoError(error), Sys().now_us());
  }

  // Success for a successful call; otherwise the cause, noting a device that went away.
  SerialResult Check(int result) {
    if (result == 0) return SerialResult::Ok();
    int error = errno;
    if (DeviceGone(error) && fd_ >= 0) Lose(error);
    return IoError(error);
  }

  // The device is open, or was lost and opens again now (at most once a second); else why not.
  SerialResult Usable() {
    if (fd_ >= 0) return SerialResult::Ok();
    const uint64_t now = Sys().now_us();
    if (!reopen_.TryDue(now)) return reopen_.failure();
    SerialResult r = OpenDevice();
    reopen_.Tried(r, now);
    return r;
  }

  // Waits one poll interval, or false when the deadline has passed.
  bool PauseUntil(uint64_t deadline) {
    uint64_t now = Sys().now_us();
    if (now >= deadline) return false;
    Sys().sleep_us(std::min(kPollIntervalUs, deadline - now));
    return true;
  }

  std::string path_;  // the device path the port was opened with, kept for reopening
  SerialSettings settings_;
  int fd_ = -1;
  ReopenState reopen_{kReopenIntervalUs};
  uint64_t write_start_us_ = 0;
  size_t written_ = 0;
};

}  // namespace

std::unique_ptr<SerialDevice> NewTerminalSerialDevice() {
  return std::make_unique<PosixSerialDevice>();
}

}  // namespace veldrane::platform
