// The meter's line on Windows: a COM port opened without sharing, the line settings, no flow
// control, each read bounded by the port's own time-outs. Windows has no pseudo-terminals.
#include <io.h>
#include <windows.h>

#include "platform/serial/port_map.h"
#include "platform/serial/serial_explain.h"
#include "platform/serial/serial_win32.h"
#include "platform/text/win_text.h"
#include "tools/meter/meter_line.h"

namespace veldrane::meter {
namespace {

HANDLE Native(int fd) {
  return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

std::string SystemError(const std::string& what) {
  return what + ": " + platform::SystemErrorText(GetLastError());
}

// A COM port, read through its own time-outs.
class ComLine final : public MeterLine {
 public:
  ComLine(std::string name, int fd) : read_fd_(fd) { name_ = std::move(name); }
  ~ComLine() override { _close(read_fd_); }

  long Read(uint8_t* buffer, size_t size, int timeout_ms, std::string* error) override {
    HANDLE h = Native(read_fd_);
    // Whatever has come, or the first bytes within the time.
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = MAXDWORD;
    t.ReadTotalTimeoutMultiplier = MAXDWORD;
    t.ReadTotalTimeoutConstant = timeout_ms > 0 ? static_cast<DWORD>(timeout_ms) : 1;
    SetCommTimeouts(h, &t);
    DWORD count = 0;
    if (!ReadFile(h, buffer, static_cast<DWORD>(size), &count, nullptr)) {
      *error = SystemError("the line failed");
      return -1;
    }
    return static_cast<long>(count);
  }

 private:
  int read_fd_;
};

}  // namespace

std::unique_ptr<MeterLine> MeterLine::OpenDevice(const std::string& path,
                                                 const LineSettings& settings, std::string* error) {
  std::string device = platform::ComDevicePath(path.c_str());
  if (device.empty()) device = path;
  HANDLE h = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD code = GetLastError();
    *error = platform::ExplainSerialFailure(
        path, {platform::SerialFaultOfWin32(code, true), static_cast<int>(code)});
    return nullptr;
  }
  // The descriptor owns the handle from here on, and closes it with the line.
  auto line = std::make_unique<ComLine>(path, _open_osfhandle(reinterpret_cast<intptr_t>(h), 0));
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  GetCommState(h, &dcb);
  dcb.BaudRate = settings.baud;
  dcb.ByteSize = static_cast<BYTE>(settings.data_bits);
  dcb.Parity = settings.parity == 'E' ? EVENPARITY : settings.parity == 'O' ? ODDPARITY : NOPARITY;
  dcb.StopBits = settings.stop_bits == 2 ? TWOSTOPBITS : ONESTOPBIT;
  dcb.fBinary = 1;
  dcb.fOutxCtsFlow = 0;
  dcb.fOutxDsrFlow = 0;
  dcb.fOutX = 0;
  dcb.fInX = 0;
  if (!SetCommState(h, &dcb)) {
    *error = SystemError("cannot set the line settings of " + path);
    return nullptr;
  }
  return line;
}

std::unique_ptr<MeterLine> MeterLine::CreatePty(const LineSettings&, const std::string&,
                                                std::string* error) {
  *error =
      "Windows has no pseudo-terminals: listen on a COM port with --port COMn (a pair of "
      "virtual COM ports joins it to the driver's)";
  return nullptr;
}

std::unique_ptr<MeterLine> MeterLine::Listen(const std::string&, const LineSettings&,
                                             std::string* error) {
  *error = "the meter is a device server on POSIX systems only: on Windows listen on a COM port";
  return nullptr;
}

}  // namespace veldrane::meter
