// Loading host modules: open by name with the dynamic loader's usual search (by path: the
// module's own dependencies are looked for beside it first), look up an export, free. POSIX:
// module_posix.cc (dlopen); Windows: module_windows.cc (LoadLibrary). Reached through one
// replaceable table so that tests can fail or count calls.
#pragma once

#include <string>

namespace veldrane::platform {

using ModuleHandle = void*;

struct ModuleApi {
  ModuleHandle (*load)(const char* name);                       // null on failure
  void* (*find_export)(ModuleHandle module, const char* name);  // null when missing
  void (*free)(ModuleHandle module);
};

// The table in use (the system's unless a test installed another).
const ModuleApi& Modules();
// Installs a replacement; null restores the system's. Returns the previous one.
const ModuleApi* SetModuleApi(const ModuleApi* api);
const ModuleApi& SystemModuleApi();

// Why the last load on this thread failed, for messages.
std::string LastModuleError();
// True when a module of that file name is loaded in this process; loads nothing.
bool ModuleIsLoaded(const char* name);

// The folder (without the final separator) of the loaded module or program that holds
// `address`, without links or ".." where the system can resolve them; empty when the loader
// cannot tell. A module finds its companions beside itself
// with it.
std::string ModuleFolderOf(const void* address);

}  // namespace veldrane::platform
