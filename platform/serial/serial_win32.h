// Windows only: the Win32 calls of the serial device, reached through one replaceable table so
// that a test can fail any call, fake the modem lines and the overlapped completions, and run
// the device on time of its own. Each entry answers as the Win32 function does, the reason of a
// failure left for GetLastError.
#pragma once

#include <windows.h>

#include <cstdint>

#include "platform/serial/serial_device.h"

namespace veldrane::platform {

struct SerialWin32Api {
  // CreateFileA with GENERIC_READ | GENERIC_WRITE, no sharing, OPEN_EXISTING, overlapped.
  HANDLE (*open)(const char* device_name);
  BOOL (*close)(HANDLE port);
  BOOL (*get_comm_state)(HANDLE port, DCB* dcb);
  BOOL (*set_comm_state)(HANDLE port, DCB* dcb);
  BOOL (*get_comm_timeouts)(HANDLE port, COMMTIMEOUTS* timeouts);
  BOOL (*set_comm_timeouts)(HANDLE port, COMMTIMEOUTS* timeouts);
  BOOL (*set_comm_mask)(HANDLE port, DWORD mask);
  BOOL (*purge_comm)(HANDLE port, DWORD flags);
  BOOL (*escape_comm_function)(HANDLE port, DWORD function);
  BOOL (*get_comm_modem_status)(HANDLE port, DWORD* status);
  BOOL (*write_file)(HANDLE port, const void* bytes, DWORD count, DWORD* done, OVERLAPPED* op);
  BOOL (*wait_comm_event)(HANDLE port, DWORD* mask, OVERLAPPED* overlapped);
  // WaitForSingleObject on an overlapped record's event.
  DWORD (*wait_for_event)(HANDLE event, DWORD ms);
  BOOL (*get_overlapped_result)(HANDLE port, OVERLAPPED* overlapped, DWORD* count, BOOL wait);
  // CancelIoEx of one overlapped operation.
  BOOL (*cancel_io)(HANDLE port, OVERLAPPED* overlapped);
  // A millisecond clock that does not wrap, and a sleep.
  uint64_t (*now_ms)();
  void (*sleep_ms)(DWORD ms);
};

// The table in use (the system's unless a test installed another).
const SerialWin32Api& SerialWin32();
// Installs a replacement; null restores the system's. Returns the previous one.
const SerialWin32Api* SetSerialWin32Api(const SerialWin32Api* api);
const SerialWin32Api& SystemSerialWin32Api();

// The fault behind a Win32 error number: why a device did not open (`opening`), or why an
// operation on an open one failed.
SerialFault SerialFaultOfWin32(DWORD error, bool opening);
// True for the errors that say an open device went away (an adapter unplugged).
bool Win32DeviceGone(DWORD error);

}  // namespace veldrane::platform
