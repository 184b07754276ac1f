// The line the virtual meter listens on: a serial device, a pseudo-terminal of its own that a
// driver (or anything else) writes to, or a device server's port on the network that a driver
// connects to. Only reading; the driver's own serial device is in platform/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

namespace veldrane::meter {

struct LineSettings {
  uint32_t baud = 9600;
  char parity = 'N';  // 'N', 'E' or 'O' ('M' or 'S' where a client set mark or space)
  int data_bits = 8;  // 7 or 8 (5 or 6 where a client set them)
  int stop_bits = 1;  // 1 or 2
};

// "9600 8N1".
std::string DescribeLine(const LineSettings& settings);

class MeterLine {
 public:
  // A serial device in raw mode with the given settings, no flow control.
  static std::unique_ptr<MeterLine> OpenDevice(const std::string& path,
                                               const LineSettings& settings, std::string* error);
  // A new pseudo-terminal; name() is the device to write to. The meter keeps that side open
  // too, so that writers may come and go, and tells when a writer changes its line settings.
  // With a `group` (a name or number; empty: none), that side belongs to it, which may read
  // and write it, so that a service's user in that group can drive it.
  static std::unique_ptr<MeterLine> CreatePty(const LineSettings& settings,
                                              const std::string& group, std::string* error);
  // A device server at `address` ("tcp://HOST:PORT", or "rfc2217://HOST:PORT" to answer the
  // Telnet COM-PORT-OPTION and take the line settings its client sets): one client at a time,
  // a new one replacing the one before, whose line's bytes are read (meter_line_net.cc).
  static std::unique_ptr<MeterLine> Listen(const std::string& address, const LineSettings& settings,
                                           std::string* error);

  virtual ~MeterLine() = default;
  MeterLine(const MeterLine&) = delete;
  MeterLine& operator=(const MeterLine&) = delete;

  const std::string& name() const { return name_; }

  // Waits up to `timeout_ms` for bytes: the count read, 0 when none came, -1 when the line is
  // gone (with the reason in `error`).
  virtual long Read(uint8_t* buffer, size_t size, int timeout_ms, std::string* error) = 0;

  // The next thing that happened on the line that is worth a line of its own (a client came or
  // went, the line settings changed); false when there is none.
  bool TakeNotice(std::string& notice) {
    if (notices_.empty()) return false;
    notice = std::move(notices_.front());
    notices_.pop_front();
    return true;
  }

 protected:
  MeterLine() = default;
  void Notice(std::string text) { notices_.push_back(std::move(text)); }

  std::string name_;

 private:
  std::deque<std::string> notices_;
};

}  // namespace veldrane::meter
