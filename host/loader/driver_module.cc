#include "host/loader/driver_module.h"

#include "platform/module.h"

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
  std::string dir = platform::ProgramFolder();
  if (dir.empty()) return kDrvModuleName;
  return dir + "/" + platform::kProgramToDriverFolder + "/" + kDrvModuleName;
}

}  // namespace veldrane::host
