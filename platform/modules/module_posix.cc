#include <dlfcn.h>

#include <cstdlib>

#include "platform/modules/module.h"
#include "platform/replaceable_api.h"

namespace veldrane::platform {
namespace {

ModuleHandle Load(const char* name) {
  return name ? dlopen(name, RTLD_NOW | RTLD_LOCAL) : nullptr;
}

void* FindExport(ModuleHandle module, const char* name) {
  return (module && name) ? dlsym(module, name) : nullptr;
}

void Free(ModuleHandle module) {
  if (module) dlclose(module);
}

const ModuleApi kSystem = {&Load, &FindExport, &Free};
ReplaceableApi<ModuleApi> g_api(&kSystem);

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
  const char* error = dlerror();
  return error ? error : "unknown error";
}

bool ModuleIsLoaded(const char* name) {
  void* h = dlopen(name, RTLD_NOW | RTLD_NOLOAD);
  if (h) dlclose(h);
  return h != nullptr;
}

std::string ModuleFolderOf(const void* address) {
  Dl_info info{};
  if (!address || dladdr(address, &info) == 0 || !info.dli_fname) return std::string();
  std::string path = info.dli_fname;
  size_t slash = path.find_last_of('/');
  std::string folder = slash == std::string::npos ? std::string(".") : path.substr(0, slash);
  // Without the "bin/../lib" that an rpath leaves, for messages that name the folder.
  char* real = realpath(folder.c_str(), nullptr);
  if (real) folder = real;
  std::free(real);
  return folder;
}

}  // namespace veldrane::platform
