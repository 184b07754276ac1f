// Modules on Windows: LoadLibrary, GetProcAddress, FreeLibrary. Names and paths are UTF-8.
#include <windows.h>

#include "platform/modules/module.h"
#include "platform/replaceable_api.h"
#include "platform/text/win_text.h"

namespace veldrane::platform {
namespace {

ModuleHandle Load(const char* name) {
  if (!name) return nullptr;
  std::wstring wide = WideFromUtf8(name);
  // A module named by its path finds its own DLLs beside itself (not only beside the program).
  DWORD flags =
      wide.find_first_of(L"\\/") != std::wstring::npos ? LOAD_WITH_ALTERED_SEARCH_PATH : 0;
  // No error box for a DLL that cannot be found: the caller reports.
  UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE module = LoadLibraryExW(wide.c_str(), nullptr, flags);
  SetErrorMode(previous);
  return reinterpret_cast<ModuleHandle>(module);
}

void* FindExport(ModuleHandle module, const char* name) {
  if (!module || !name) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void Free(ModuleHandle module) {
  if (module) FreeLibrary(static_cast<HMODULE>(module));
}

const ModuleApi kSystem = {&Load, &FindExport, &Free};
ReplaceableApi<ModuleApi> g_api(&kSystem);

std::string FolderOfModule(HMODULE module) {
  wchar_t path[32768];
  DWORD n = GetModuleFileNameW(module, path, sizeof path / sizeof path[0]);
  if (n == 0 || n >= sizeof path / sizeof path[0]) return std::string();
  std::wstring p(path, n);
  size_t slash = p.find_last_of(L"\\/");
  return Utf8FromWide(slash == std::wstring::npos ? L"." : p.substr(0, slash));
}

}  // namespace

const ModuleApi& Modules() {
  return g_api.Get();
}

const ModuleApi* SetModuleApi(const ModuleApi* api) {
  return g_api.Set(api);
}

const ModuleApi& SystemModuleApi() {
  return g_api.System();
}

std::string LastModuleError() {
  return SystemErrorText(GetLastError());
}

bool ModuleIsLoaded(const char* name) {
  return name && GetModuleHandleW(WideFromUtf8(name).c_str()) != nullptr;
}

std::string ModuleFolderOf(const void* address) {
  HMODULE module = nullptr;
  if (!address || !GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                          GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                      static_cast<LPCWSTR>(address), &module)) {
    return std::string();
  }
  return FolderOfModule(module);
}

}  // namespace veldrane::platform
