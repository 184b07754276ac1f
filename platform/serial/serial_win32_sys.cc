#include <windows.h>

#include "platform/replaceable_api.h"
#include "platform/serial/serial_win32.h"

namespace veldrane::platform {
namespace {

HANDLE Open(const char* device_name) {
  return CreateFileA(device_name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
}

DWORD WaitForEvent(HANDLE event, DWORD ms) {
  return WaitForSingleObject(event, ms);
}

uint64_t NowMs() {
  return GetTickCount64();
}

const SerialWin32Api kSystem = {
    &Open,
    &CloseHandle,
    &GetCommState,
    &SetCommState,
    &GetCommTimeouts,
    &SetCommTimeouts,
    &SetCommMask,
    &PurgeComm,
    &EscapeCommFunction,
    &GetCommModemStatus,
    [](HANDLE port, const void* bytes, DWORD count, DWORD* written, OVERLAPPED* overlapped) {
      return WriteFile(port, bytes, count, written, overlapped);
    },
    &WaitCommEvent,
    &WaitForEvent,
    &GetOverlappedResult,
    &CancelIoEx,
    &NowMs,
    &Sleep};
ReplaceableApi<SerialWin32Api> g_api(&kSystem);

}  // namespace

const SerialWin32Api& SerialWin32() {
  return g_api.Get();
}

const SerialWin32Api* SetSerialWin32Api(const SerialWin32Api* api) {
  return g_api.Set(api);
}

const SerialWin32Api& SystemSerialWin32Api() {
  return g_api.System();
}

}  // namespace veldrane::platform
