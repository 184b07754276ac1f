// One serial device, as the serial line drives it: opened without sharing and set up once, then
// one frame at a time purged, written and waited for. On POSIX a COM port is a local terminal
// (serial_posix.cc: termios and ioctl) or a device server's port on the network
// (serial_net_posix.cc: TCP, raw or with the Telnet COM-PORT-OPTION), as its port-map entry
// says; on Windows it is the Win32 communications device (serial_windows.cc). Tests use
// FakeSerialLine (fake_serial_line.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace veldrane::platform {

class StopSignal;

enum class Parity : uint8_t { kNone, kOdd, kEven };

// The line as the port settings give it.
struct SerialSettings {
  uint32_t baud_rate = 9600;
  uint8_t byte_size = 8;  // 7 or 8
  Parity parity = Parity::kNone;
  uint8_t stop_bits = 1;  // 1 or 2
  // The RTS/CTS handshake by hand: DTR and RTS are held down between frames. Without it both
  // are held up from the opening on.
  bool rts_cts = false;
};

enum class ModemLine : uint8_t { kDown, kUp, kUnsupported };

// Why a device operation failed, in terms a user can act on. The set is closed and does not
// depend on how the device is reached: a local terminal and a device server on the network
// give the same causes, each with the system's error number where it had one.
enum class SerialFault : uint8_t {
  kNone,
  kNotFound,          // no such device (an adapter unplugged, a link that leads nowhere)
  kPermissionDenied,  // this account may not open it
  kBusy,              // another program holds it
  kNotSerialDevice,   // it opens, but is no serial line (a file, /dev/null, a FIFO)
  kSettingsRefused,   // the line settings are out of range, or the device will not take them
  kIoError,           // the device failed, or went away, while in use
  kTimedOut,          // it did not take the bytes, or send them, in time
};

struct SerialResult {
  SerialFault fault = SerialFault::kNone;
  int error = 0;  // errno, or 0 where the cause is not a system error

  bool ok() const { return fault == SerialFault::kNone; }
  explicit operator bool() const { return ok(); }
  static SerialResult Ok() { return {}; }
};

// "not found", "permission denied", ... ("ok" for kNone).
constexpr const char* SerialFaultText(SerialFault fault) {
  switch (fault) {
    case SerialFault::kNone:
      return "ok";
    case SerialFault::kNotFound:
      return "not found";
    case SerialFault::kPermissionDenied:
      return "permission denied";
    case SerialFault::kBusy:
      return "busy";
    case SerialFault::kNotSerialDevice:
      return "not a serial device";
    case SerialFault::kSettingsRefused:
      return "line settings refused";
    case SerialFault::kIoError:
      return "I/O error";
    case SerialFault::kTimedOut:
      return "timed out";
  }
  return "?";
}

class SerialDevice {
 public:
  virtual ~SerialDevice() = default;  // closes the device

  // Opens the port named as the user knows it ("COM3", "\\.\COM12") for this process alone and
  // sets it up: raw bytes, the line settings, no automatic flow control, DTR and RTS by mode.
  // Settings out of range are refused before anything is opened; set-up steps that fail after
  // the device was had are ignored. The device keeps the identity it was opened with: should
  // it go away, it is opened again under that identity, never under another.
  virtual SerialResult Open(const char* port_name, const SerialSettings& settings) = 0;
  // Drops what waits in the driver's transmit and receive buffers.
  virtual SerialResult Purge() = 0;
  // Raises or lowers RTS. Refused when the line cannot be set (a pseudo-terminal has none).
  virtual SerialResult SetRts(bool up) = 0;
  // The CTS line as it is now.
  virtual ModemLine Cts() = 0;
  // Writes all `length` bytes within `timeout_ms`; kTimedOut when they are not all taken in
  // time.
  virtual SerialResult Write(const uint8_t* bytes, size_t length, uint32_t timeout_ms) = 0;
  // Waits until the bytes written have left the transmitter; kTimedOut when that takes longer
  // than `timeout_ms`.
  virtual SerialResult WaitTransmitted(uint32_t timeout_ms) = 0;
  // True once after the device went away and was opened again: the meters on the line may have
  // lost what they showed. The serial line asks once a pass, so a device may also try to come
  // back here, between frames (the network line does, and only here).
  virtual bool TakeReturned() = 0;
  // Whether the device went away after it was opened and has not come back yet.
  virtual bool Lost() const { return false; }
  // Ends the device's long waits (a connection try) as soon as `stop` is raised, and starts
  // none while it stays raised; null forgets it. The engine gives its stop request here once
  // the port is open; `stop` must outlive the device or be taken back first.
  virtual void WatchStop(const StopSignal* stop) { (void)stop; }
};

// The system's device: on POSIX the terminal or the device server that the port-map entry names,
// chosen when it opens (serial_port_posix.cc); on Windows the Win32 communications functions
// (serial_windows.cc).
std::unique_ptr<SerialDevice> NewSystemSerialDevice();
// The POSIX device that chooses (serial_port_posix.cc).
std::unique_ptr<SerialDevice> NewPosixSerialDevice();
// A local terminal (serial_posix.cc), and a device server's port (serial_net_posix.cc).
std::unique_ptr<SerialDevice> NewTerminalSerialDevice();
std::unique_ptr<SerialDevice> NewNetworkSerialDevice();

}  // namespace veldrane::platform
