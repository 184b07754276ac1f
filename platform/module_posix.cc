#include <dlfcn.h>

#include <atomic>

#include "platform/module.h"

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
std::atomic<const ModuleApi*> g_api{&kSystem};

}  // namespace

const ModuleApi& Modules() {
  return *g_api.load();
}

const ModuleApi* SetModuleApi(const ModuleApi* api) {
  return g_api.exchange(api ? api : &kSystem);
}

const ModuleApi& SystemModuleApi() {
  return kSystem;
}

}  // namespace veldrane::platform
