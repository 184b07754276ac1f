// The serial device on the Win32 communications functions. Every call goes through
// SerialWin32().
//
// The port is opened overlapped and without sharing, set up once (the DCB by mode, the
// time-outs, RTS up for good in normal mode), and each frame is purged, written with an
// overlapped WriteFile and waited for with an overlapped WaitCommEvent on EV_TXEMPTY. Every wait
// is bounded; an operation still pending when its time is up is cancelled and waited for, so
// that nothing outlives the buffer, the event and the OVERLAPPED record of its call.
//
// As the POSIX device, it mends a device that went away (an unplugged USB adapter): it is
// closed and opened again under the same name before a later frame, at most once a second.
// A device that cannot tell when its transmitter is empty has the bytes' character time.
#include <windows.h>

#include <algorithm>
#include <string>

#include "platform/serial/port_map.h"
#include "platform/serial/serial_device.h"
#include "platform/serial/serial_reopen.h"
#include "platform/serial/serial_win32.h"

namespace veldrane::platform {
namespace {

constexpr uint64_t kReopenIntervalMs = 1000;

// An event and an OVERLAPPED record for one operation; the operation, when still pending at the
// end, is cancelled and waited for before they go.
class Overlapped {
 public:
  explicit Overlapped(HANDLE port) : port_(port) {
    record_.hEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);  // auto-reset, not signalled
  }
  ~Overlapped() {
    if (pending_) {
      DWORD ignored = 0;
      Api().cancel_io(port_, &record_);
      Api().get_overlapped_result(port_, &record_, &ignored, TRUE);
    }
    if (record_.hEvent) CloseHandle(record_.hEvent);
  }
  Overlapped(const Overlapped&) = delete;
  Overlapped& operator=(const Overlapped&) = delete;

  OVERLAPPED* get() { return &record_; }
  bool valid() const { return record_.hEvent != nullptr; }

  // After a call that answered ERROR_IO_PENDING: waits up to `ms` for it. kNone when it
  // completed in time (its count in `count`, its failure in `error`), kTimedOut when not (it is
  // then cancelled), kIoError when the wait itself failed.
  SerialFault Wait(DWORD ms, DWORD* count, DWORD* error) {
    pending_ = true;
    DWORD waited = Api().wait_for_event(record_.hEvent, ms);
    if (waited == WAIT_TIMEOUT) return SerialFault::kTimedOut;  // the destructor cancels
    if (waited != WAIT_OBJECT_0) {
      *error = GetLastError();
      return SerialFault::kIoError;
    }
    pending_ = false;
    *error = Api().get_overlapped_result(port_, &record_, count, FALSE) ? 0 : GetLastError();
    return SerialFault::kNone;
  }

 private:
  static const SerialWin32Api& Api() { return SerialWin32(); }

  HANDLE port_;
  OVERLAPPED record_{};
  bool pending_ = false;
};

// The errors of WaitCommEvent that say the device cannot tell when its transmitter is empty.
bool CannotTell(DWORD error) {
  return error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED ||
         error == ERROR_INVALID_PARAMETER || error == ERROR_OPERATION_ABORTED;
}

bool SettingsInRange(const SerialSettings& s) {
  return s.baud_rate > 0 && (s.byte_size == 7 || s.byte_size == 8) &&
         (s.stop_bits == 1 || s.stop_bits == 2) &&
         (s.parity == Parity::kNone || s.parity == Parity::kOdd || s.parity == Parity::kEven);
}

class WindowsSerialDevice final : public SerialDevice {
 public:
  ~WindowsSerialDevice() override { Close(); }

  SerialResult Open(const char* port_name, const SerialSettings& settings) override {
    Close();
    reopen_.Restart();
    settings_ = settings;
    if (!SettingsInRange(settings)) return Fail({SerialFault::kSettingsRefused, 0});
    name_ = ComDevicePath(port_name);
    if (name_.empty()) return Fail({SerialFault::kNotFound, 0});
    return OpenDevice();
  }

  // Also arms the transmitter-empty event for the frame that follows.
  SerialResult Purge() override {
    if (SerialResult r = Usable(); !r.ok()) return r;
    if (!Api().purge_comm(port_, PURGE_TXCLEAR | PURGE_RXCLEAR)) return Failed(GetLastError());
    if (!Api().set_comm_mask(port_, EV_TXEMPTY)) return Failed(GetLastError());
    return SerialResult::Ok();
  }

  SerialResult SetRts(bool up) override {
    if (SerialResult r = Usable(); !r.ok()) return r;
    if (Api().escape_comm_function(port_, up ? SETRTS : CLRRTS)) return SerialResult::Ok();
    SerialResult r = Failed(GetLastError());
    // A port without modem lines does not take the setting.
    if (port_ != INVALID_HANDLE_VALUE) r.fault = SerialFault::kSettingsRefused;
    return r;
  }

  ModemLine Cts() override {
    if (!Usable().ok()) return ModemLine::kDown;
    DWORD status = 0;
    if (!Api().get_comm_modem_status(port_, &status)) {
      Failed(GetLastError());
      return port_ == INVALID_HANDLE_VALUE ? ModemLine::kDown : ModemLine::kUnsupported;
    }
    return (status & MS_CTS_ON) ? ModemLine::kUp : ModemLine::kDown;
  }

  SerialResult Write(const uint8_t* bytes, size_t length, uint32_t timeout_ms) override {
    if (SerialResult r = Usable(); !r.ok()) return r;
    write_start_ms_ = Api().now_ms();
    written_ = 0;
    Overlapped op(port_);
    if (!op.valid()) return IoError(GetLastError());
    const DWORD count = static_cast<DWORD>(length);
    DWORD done = 0;
    if (!Api().write_file(port_, bytes, count, &done, op.get())) {
      DWORD error = GetLastError();
      if (error != ERROR_IO_PENDING) return Failed(error);
      SerialFault waited = op.Wait(timeout_ms, &done, &error);
      if (waited == SerialFault::kTimedOut) return {SerialFault::kTimedOut, 0};
      if (waited != SerialFault::kNone) return IoError(error);
      // Windows ends a write that ran out of time with fewer bytes; Wine with ERROR_TIMEOUT.
      if (error == ERROR_TIMEOUT) return {SerialFault::kTimedOut, 0};
      if (error != 0) return Failed(error);
    }
    written_ = done;
    if (done < count) return {SerialFault::kTimedOut, 0};
    return SerialResult::Ok();
  }

  SerialResult WaitTransmitted(uint32_t timeout_ms) override {
    if (SerialResult r = Usable(); !r.ok()) return r;
    const uint64_t deadline = Api().now_ms() + timeout_ms;
    Overlapped op(port_);
    if (!op.valid()) return IoError(GetLastError());
    DWORD mask = 0;
    if (Api().wait_comm_event(port_, &mask, op.get())) return SerialResult::Ok();
    DWORD error = GetLastError();
    if (error == ERROR_IO_PENDING) {
      DWORD count = 0;
      SerialFault waited = op.Wait(timeout_ms, &count, &error);
      if (waited == SerialFault::kTimedOut) return {SerialFault::kTimedOut, 0};
      if (waited != SerialFault::kNone) return IoError(error);
      if (error == 0) return SerialResult::Ok();
    }
    if (Win32DeviceGone(error)) return Failed(error);
    if (!CannotTell(error)) return Failed(error);
    // No answer from the device: the bytes need their character time from the start of the
    // write.
    uint64_t ready = write_start_ms_ + CharacterTimeMs(written_);
    uint64_t now = Api().now_ms();
    if (ready > deadline) {
      if (deadline > now) Api().sleep_ms(static_cast<DWORD>(deadline - now));
      return {SerialFault::kTimedOut, 0};
    }
    if (ready > now) Api().sleep_ms(static_cast<DWORD>(ready - now));
    return SerialResult::Ok();
  }

  bool TakeReturned() override { return reopen_.TakeReturned(); }

 private:
  static const SerialWin32Api& Api() { return SerialWin32(); }

  SerialResult OpenDevice() {
    HANDLE port = Api().open(name_.c_str());
    if (port == INVALID_HANDLE_VALUE) {
      DWORD error = GetLastError();
      return Fail({SerialFaultOfWin32(error, true), static_cast<int>(error)});
    }
    port_ = port;
    Configure();
    return SerialResult::Ok();
  }

  // The line settings. Failures are ignored: once open, the port counts as open.
  void Configure() {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    Api().get_comm_state(port_, &dcb);
    dcb.BaudRate = settings_.baud_rate;
    dcb.ByteSize = settings_.byte_size;
    dcb.Parity = settings_.parity == Parity::kEven  ? EVENPARITY
                 : settings_.parity == Parity::kOdd ? ODDPARITY
                                                    : NOPARITY;
    dcb.StopBits = settings_.stop_bits == 2 ? TWOSTOPBITS : ONESTOPBIT;
    Api().set_comm_mask(port_, 0);
    // No automatic flow control in either mode: the handshake is made by hand around each
    // frame. DTR and RTS are up for good in normal mode, down between frames with it.
    dcb.fBinary = 1;
    dcb.fParity = 1;
    dcb.fOutxCtsFlow = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fDtrControl = settings_.rts_cts ? DTR_CONTROL_DISABLE : DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = 0;
    dcb.fTXContinueOnXoff = 0;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fRtsControl = settings_.rts_cts ? RTS_CONTROL_DISABLE : RTS_CONTROL_ENABLE;
    Api().set_comm_state(port_, &dcb);
    COMMTIMEOUTS timeouts{};
    Api().get_comm_timeouts(port_, &timeouts);
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 1000;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = 0;  // the write is bounded by its own wait
    Api().set_comm_timeouts(port_, &timeouts);
    if (!settings_.rts_cts) Api().escape_comm_function(port_, SETRTS);
  }

  void Close() {
    if (port_ != INVALID_HANDLE_VALUE) Api().close(port_);
    port_ = INVALID_HANDLE_VALUE;
  }

  SerialResult Fail(SerialResult r) { return reopen_.Fail(r); }

  static SerialResult IoError(DWORD error) {
    return {SerialFault::kIoError, static_cast<int>(error)};
  }

  // The cause of a failed operation, noting a device that went away.
  SerialResult Failed(DWORD error) {
    if (Win32DeviceGone(error) && port_ != INVALID_HANDLE_VALUE) {
      Close();
      reopen_.Lose(IoError(error), Api().now_ms());
    }
    return {SerialFaultOfWin32(error, false), static_cast<int>(error)};
  }

  // The device is open, or was lost and opens again now (at most once a second); else why not.
  SerialResult Usable() {
    if (port_ != INVALID_HANDLE_VALUE) return SerialResult::Ok();
    const uint64_t now = Api().now_ms();
    if (!reopen_.TryDue(now)) return reopen_.failure();
    SerialResult r = OpenDevice();
    reopen_.Tried(r, now);
    return r;
  }

  // The time `count` characters take on the line: start bit, data bits, parity, stop bits.
  uint64_t CharacterTimeMs(size_t count) const {
    uint64_t bits = 1u + settings_.byte_size + (settings_.parity != Parity::kNone ? 1u : 0u) +
                    settings_.stop_bits;
    return (uint64_t{count} * bits * 1000u + settings_.baud_rate - 1) / settings_.baud_rate;
  }

  std::string name_;  // the device name the port was opened with, kept for reopening
  SerialSettings settings_;
  HANDLE port_ = INVALID_HANDLE_VALUE;
  ReopenState reopen_{kReopenIntervalMs};
  uint64_t write_start_ms_ = 0;
  size_t written_ = 0;
};

}  // namespace

SerialFault SerialFaultOfWin32(DWORD error, bool opening) {
  switch (error) {
    case ERROR_SUCCESS:
      return SerialFault::kNone;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_UNIT:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_FILE_INVALID:
      return opening ? SerialFault::kNotFound : SerialFault::kIoError;
    case ERROR_ACCESS_DENIED:  // what another program's open COM port answers
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
      return opening ? SerialFault::kBusy : SerialFault::kIoError;
    case ERROR_TIMEOUT:
    case WAIT_TIMEOUT:
    case ERROR_SEM_TIMEOUT:
      return SerialFault::kTimedOut;
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_SUPPORTED:
      return opening ? SerialFault::kNotSerialDevice : SerialFault::kSettingsRefused;
    default:
      return SerialFault::kIoError;
  }
}

bool Win32DeviceGone(DWORD error) {
  return error == ERROR_BAD_COMMAND || error == ERROR_GEN_FAILURE ||
         error == ERROR_DEVICE_NOT_CONNECTED || error == ERROR_DEVICE_REMOVED ||
         error == ERROR_FILE_INVALID || error == ERROR_ACCESS_DENIED ||
         error == ERROR_INVALID_HANDLE || error == ERROR_FILE_NOT_FOUND;
}

std::unique_ptr<SerialDevice> NewSystemSerialDevice() {
  return std::make_unique<WindowsSerialDevice>();
}

}  // namespace veldrane::platform
