#include "host/loader/driver_module.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "fw/object.h"

namespace veldrane::host {

DriverModule::~DriverModule() {
  Unload();
}

bool DriverModule::Load(const std::string& path, std::string* error) {
  Unload();
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) {
    if (error) *error = std::string("cannot load the driver: ") + dlerror();
    return false;
  }
  table_ = static_cast<DrvFn*>(dlsym(handle_, kDrvTableName));
  if (!table_) {
    if (error) *error = path + " has no " + kDrvTableName;
    Unload();
    return false;
  }
  return true;
}

void DriverModule::Unload() {
  if (handle_) dlclose(handle_);
  handle_ = nullptr;
  table_ = nullptr;
}

std::string DefaultDriverPath() {
  // The driver sits beside the framework library that this program's rpath found: lib/ in a
  // build tree, the private library folder of an installation, wherever either was put.
  Dl_info info{};
  const void* fw_code = reinterpret_cast<const void*>(&FindRuntimeClass);
  if (dladdr(fw_code, &info) == 0 || !info.dli_fname) return kDrvModuleName;
  std::string file = info.dli_fname;
  size_t slash = file.find_last_of('/');
  std::string dir = slash == std::string::npos ? "." : file.substr(0, slash);
  char real[PATH_MAX];
  if (realpath(dir.c_str(), real)) dir = real;
  return dir + "/" + kDrvModuleName;
}

}  // namespace veldrane::host
