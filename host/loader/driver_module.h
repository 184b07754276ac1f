// Reference host only: loads a driver module by path, the way a host does (dlopen or
// LoadLibrary through the platform's module table, then the DrvFuncTable export), and calls its
// slots.
#pragma once

#include <cstdint>
#include <string>

#include "veldrane/drv_table.h"

namespace veldrane::host {

class DriverModule {
 public:
  DriverModule() = default;
  ~DriverModule();  // unloads the module
  DriverModule(const DriverModule&) = delete;
  DriverModule& operator=(const DriverModule&) = delete;

  // Loads the module; false with a message in *error when it cannot be loaded or lacks
  // DrvFuncTable.
  bool Load(const std::string& path, std::string* error);
  // Runs the module's unload handler (dlclose). Safe to call twice.
  void Unload();
  bool loaded() const { return handle_ != nullptr; }

  // The raw slot (null past slot 16), and a slot as its function type.
  DrvFn RawSlot(int slot) const { return table_ ? table_[slot] : nullptr; }
  template <DrvSlot S>
  SlotFn<S> Slot() const {
    return GetSlot<S>(table_);
  }

  int32_t GetVersion() const { return Slot<kDrvGetVersion>()(); }
  const char* GetName() const { return Slot<kDrvGetName>()(); }
  int32_t Open(const char* path) const { return Slot<kDrvOpen>()(path); }
  int32_t Configure(const char* path) const { return Slot<kDrvConfigure>()(path); }
  int32_t OpenPort(int32_t i) const { return Slot<kDrvOpenPort>()(i); }
  int32_t ResolveTags(int32_t i) const { return Slot<kDrvResolveTags>()(i); }
  int32_t Stop(int32_t i) const { return Slot<kDrvStop>()(i); }
  void SetActive(int32_t i, const char* station, int32_t state) const {
    Slot<kDrvSetActive>()(i, station, state);
  }
  void ResetStats(int32_t i, const char* station) const { Slot<kDrvResetStats>()(i, station); }
  int32_t GetStats(int32_t i, const char* station, int32_t* sent, int32_t* failed, int32_t* third,
                   int32_t* fourth) const {
    return Slot<kDrvGetStats>()(i, station, sent, failed, third, fourth);
  }
  void GetStationInfo(int32_t i, const char* station, CString* number, CString* tag) const {
    Slot<kDrvGetStationInfo>()(i, station, number, tag);
  }

 private:
  void* handle_ = nullptr;
  DrvFn* table_ = nullptr;
};

// The driver's path for the host runner: beside the framework library that the running program
// loaded (its ../lib in a build tree, the private library folder when installed, the program's
// own folder on Windows).
std::string DefaultDriverPath();

}  // namespace veldrane::host
