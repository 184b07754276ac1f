// The line the virtual meter listens on: a serial device, or a pseudo-terminal of its own that
// a driver (or anything else) writes to. Only reading; the driver's own serial device is in
// platform/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace veldrane::meter {

struct LineSettings {
  uint32_t baud = 9600;
  char parity = 'N';  // 'N', 'E' or 'O'
  int data_bits = 8;  // 7 or 8
  int stop_bits = 1;  // 1 or 2
};

// "9600 8N1".
std::string DescribeLine(const LineSettings& settings);

class MeterLine {
 public:
  // A serial device in raw mode with the given settings, no flow control.
  static std::unique_ptr<MeterLine> OpenDevice(const std::string& path,
                                               const LineSettings& settings, std::string& error);
  // A new pseudo-terminal; name() is the device to write to. The meter keeps that side open
  // too, so that writers may come and go.
  static std::unique_ptr<MeterLine> CreatePty(const LineSettings& settings, std::string& error);

  MeterLine() = default;
  ~MeterLine();
  MeterLine(const MeterLine&) = delete;
  MeterLine& operator=(const MeterLine&) = delete;

  const std::string& name() const { return name_; }

  // Waits up to `timeout_ms` for bytes: the count read, 0 when none came, -1 when the line is
  // gone (with the reason in `error`).
  long Read(uint8_t* buffer, size_t size, int timeout_ms, std::string& error);

 private:
  int read_fd_ = -1;
  int keep_fd_ = -1;  // the pseudo-terminal's other side, held open
  std::string name_;
};

}  // namespace veldrane::meter
