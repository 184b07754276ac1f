// One serial device, as the serial line drives it: opened without sharing and set up once, then
// one frame at a time purged, written and waited for. The POSIX implementation is
// serial_posix.cc (termios and ioctl); tests use FakeSerialLine (fake_serial_line.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace veldrane::platform {

enum class Parity : uint8_t { kNone, kOdd, kEven };

// The line as the port settings give it.
struct SerialSettings {
  uint32_t baud_rate = 9600;  // 0: keep the device's rate
  uint8_t byte_size = 8;      // 7 or 8
  Parity parity = Parity::kNone;
  uint8_t stop_bits = 1;  // 1 or 2
  // The RTS/CTS handshake by hand: DTR and RTS are held down between frames. Without it both
  // are held up from the opening on.
  bool rts_cts = false;
};

enum class ModemLine : uint8_t { kDown, kUp, kUnsupported };

class SerialDevice {
 public:
  virtual ~SerialDevice() = default;  // closes the device

  // Opens the port named as the user knows it ("COM3", "\\.\COM12") for this process alone and
  // sets it up: raw bytes, the line settings, no automatic flow control, DTR and RTS by mode.
  // False when the device cannot be had; set-up steps that fail after that are ignored.
  virtual bool Open(const char* port_name, const SerialSettings& settings) = 0;
  // Drops what waits in the driver's transmit and receive buffers.
  virtual bool Purge() = 0;
  // Raises or lowers RTS. False when the line cannot be set (a pseudo-terminal has none).
  virtual bool SetRts(bool up) = 0;
  // The CTS line as it is now.
  virtual ModemLine Cts() = 0;
  // Writes all `length` bytes within `timeout_ms`; false when they are not all taken in time or
  // the device fails.
  virtual bool Write(const uint8_t* bytes, size_t length, uint32_t timeout_ms) = 0;
  // Waits until the bytes written have left the transmitter; false when that takes longer than
  // `timeout_ms` or the device fails.
  virtual bool WaitTransmitted(uint32_t timeout_ms) = 0;
};

// The POSIX device (serial_posix.cc).
std::unique_ptr<SerialDevice> NewPosixSerialDevice();

}  // namespace veldrane::platform
