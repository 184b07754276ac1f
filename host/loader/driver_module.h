// Reference host only: loads a driver module by path, the way a host does (dlopen, then the
// DrvFuncTable export), and calls its slots.
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

  // The raw slot (null past slot 16), and the slot cast to its function type.
  DrvFn RawSlot(int slot) const { return table_ ? table_[slot] : nullptr; }
  template <typename Fn>
  Fn Slot(int slot) const {
    return reinterpret_cast<Fn>(RawSlot(slot));
  }

  int32_t GetVersion() const { return Slot<DrvGetVersionFn>(kDrvGetVersion)(); }
  const char* GetName() const { return Slot<DrvGetNameFn>(kDrvGetName)(); }
  int32_t Open(const char* path) const { return Slot<DrvOpenFn>(kDrvOpen)(path); }
  int32_t Configure(const char* path) const { return Slot<DrvConfigureFn>(kDrvConfigure)(path); }
  int32_t OpenPort(int32_t i) const { return Slot<DrvOpenPortFn>(kDrvOpenPort)(i); }
  int32_t ResolveTags(int32_t i) const { return Slot<DrvResolveTagsFn>(kDrvResolveTags)(i); }
  int32_t Stop(int32_t i) const { return Slot<DrvStopFn>(kDrvStop)(i); }
  void SetActive(int32_t i, const char* station, int32_t state) const {
    Slot<DrvSetActiveFn>(kDrvSetActive)(i, station, state);
  }
  void ResetStats(int32_t i, const char* station) const {
    Slot<DrvResetStatsFn>(kDrvResetStats)(i, station);
  }
  int32_t GetStats(int32_t i, const char* station, int32_t* sent, int32_t* failed, int32_t* third,
                   int32_t* fourth) const {
    return Slot<DrvGetStatsFn>(kDrvGetStats)(i, station, sent, failed, third, fourth);
  }
  void GetStationInfo(int32_t i, const char* station, CString* number, CString* tag) const {
    Slot<DrvGetStationInfoFn>(kDrvGetStationInfo)(i, station, number, tag);
  }

 private:
  void* handle_ = nullptr;
  DrvFn* table_ = nullptr;
};

// The path of Veldrane.so beside the framework library that the running program loaded (its
// ../lib in a build tree, the private library folder when installed), for the host runner.
std::string DefaultDriverPath();

}  // namespace veldrane::host
