#include "host/loader/driver_module.h"

#include "fw/object.h"
#include "platform/modules/module.h"

namespace veldrane::host {

DriverModule::~DriverModule() {
  Unload();
}

bool DriverModule::Load(const std::string& path, std::string* error) {
  Unload();
  handle_ = platform::Modules().load(path.c_str());
  if (!handle_) {
    if (error) *error = "cannot load the driver " + path + ": " + platform::LastModuleError();
    return false;
  }
  table_ = static_cast<DrvFn*>(platform::Modules().find_export(handle_, kDrvTableName));
  if (!table_) {
    if (error) *error = path + " has no " + kDrvTableName;
    Unload();
    return false;
  }
  return true;
}

void DriverModule::Unload() {
  if (handle_) platform::Modules().free(handle_);
  handle_ = nullptr;
  table_ = nullptr;
}

std::string DefaultDriverPath() {
  // The driver sits beside the framework library that this program's loader found: lib/ in a
  // build tree, the private library folder of an installation, the program's folder on Windows,
  // wherever the tree was put.
  std::string dir = platform::ModuleFolderOf(reinterpret_cast<const void*>(&FindRuntimeClass));
  if (dir.empty()) return kDrvModuleName;
  return dir + "/" + kDrvModuleName;
}

}  // namespace veldrane::host
