#include "host/loader/driver_module.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>

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
  char self[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return kDrvModuleName;
  std::string dir(self, static_cast<size_t>(n));
  dir = dir.substr(0, dir.find_last_of('/'));
  return dir + "/../lib/" + kDrvModuleName;
}

}  // namespace veldrane::host
