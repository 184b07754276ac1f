#include "driver/entry_points.h"

#include <memory>

#include "config/doc.h"
#include "driver/configure.h"
#include "driver/driver_instance.h"
#include "driver/registry.h"
#include "hostlink/host_modules.h"
#include "hostlink/report.h"

namespace veldrane::entry {
namespace {

constexpr const char* kDisplayName = "VELDRANE";

// Runs body with the instance at index; answers bad_index for a bad index or an exception.
template <typename R, typename Body>
R WithInstance(int32_t index, R bad_index, Body body) {
  try {
    DriverInstance* instance = FindInstance(index);
    return instance ? body(*instance) : bad_index;
  } catch (...) {
    return bad_index;
  }
}

template <typename Body>
void WithInstance(int32_t index, Body body) {
  try {
    if (DriverInstance* instance = FindInstance(index)) body(*instance);
  } catch (...) {
  }
}

}  // namespace

int32_t DrvGetVersion() {
  return kDrvVersion;
}

int32_t DrvOpen(const char* path) {
  try {
    LoadRuntimeModules();
    auto instance = std::make_unique<DriverInstance>();
    if (path && instance->doc().Load(path)) return RegisterInstance(std::move(instance));
  } catch (...) {
  }
  ReportMessage(kMessageFileFailed, kLevelSetup, path ? path : "", 0);
  return -1;
}

int32_t DrvConfigure(const char* path) {
  int32_t result = 0;
  try {
    if (!LoadConfigureModules()) return 0;
    if (HasEditorTable()) {
      auto doc = std::make_unique<CVeldraneDoc>();
      result = RunConfigure(*doc, path);
    }
  } catch (...) {
    result = 0;
  }
  FreeConfigureModules();
  return result;
}

int32_t DrvOpenPort(int32_t index) {
  return WithInstance<int32_t>(index, 0, [](DriverInstance& line) { return line.OpenPort(); });
}

int32_t DrvResolveTags(int32_t index) {
  return WithInstance<int32_t>(index, 0, [](DriverInstance& line) { return line.ResolveTags(); });
}

int32_t DrvStop(int32_t index) {
  return WithInstance<int32_t>(index, 0, [](DriverInstance& line) { return line.Stop(); });
}

int32_t DrvRequest(int32_t index, int32_t a, int32_t b, int32_t c, int32_t d, int32_t e) {
  return WithInstance<int32_t>(
      index, -1, [&](DriverInstance& line) { return line.doc().Request(a, b, c, d, e); });
}

int32_t DrvNotify(int32_t index, int32_t a, int32_t b) {
  return WithInstance<int32_t>(index, 0,
                               [&](DriverInstance& line) { return line.doc().Notify(a, b); });
}

int32_t DrvQueryA() {
  return 0;
}

int32_t DrvQueryB() {
  return 1;
}

void DrvHookA() {}

void DrvHookB() {}

const char* DrvGetName() {
  return kDisplayName;
}

void DrvSetActive(int32_t index, const char* station, int32_t state) {
  WithInstance(index, [&](DriverInstance& line) { line.SetActive(station, state); });
}

void DrvResetStats(int32_t index, const char* station) {
  WithInstance(index, [&](DriverInstance& line) { line.doc().ResetStats(station); });
}

int32_t DrvGetStats(int32_t index, const char* station, int32_t* sent, int32_t* failed,
                    int32_t* third, int32_t* fourth) {
  return WithInstance<int32_t>(index, -1, [&](DriverInstance& line) {
    return line.GetStats(station, sent, failed, third, fourth);
  });
}

void DrvGetStationInfo(int32_t index, const char* station, CString* number, CString* tag) {
  if (!station) return;  // the name is tested before the index
  WithInstance(index,
               [&](DriverInstance& line) { line.doc().GetStationInfo(station, number, tag); });
}

void FillTable(DrvFn* table) {
  for (int i = 0; i < kDrvTableSize; ++i) table[i] = nullptr;
  SetSlot<kDrvGetVersion>(table, &DrvGetVersion);
  SetSlot<kDrvOpen>(table, &DrvOpen);
  SetSlot<kDrvConfigure>(table, &DrvConfigure);
  SetSlot<kDrvOpenPort>(table, &DrvOpenPort);
  SetSlot<kDrvResolveTags>(table, &DrvResolveTags);
  SetSlot<kDrvStop>(table, &DrvStop);
  SetSlot<kDrvRequest>(table, &DrvRequest);
  SetSlot<kDrvNotify>(table, &DrvNotify);
  SetSlot<kDrvQueryA>(table, &DrvQueryA);
  SetSlot<kDrvQueryB>(table, &DrvQueryB);
  SetSlot<kDrvHookA>(table, &DrvHookA);
  SetSlot<kDrvHookB>(table, &DrvHookB);
  SetSlot<kDrvGetName>(table, &DrvGetName);
  SetSlot<kDrvSetActive>(table, &DrvSetActive);
  SetSlot<kDrvResetStats>(table, &DrvResetStats);
  SetSlot<kDrvGetStats>(table, &DrvGetStats);
  SetSlot<kDrvGetStationInfo>(table, &DrvGetStationInfo);
}

// A function of another type does not fit a slot: filling it would not compile.
static_assert(FitsSlot<kDrvOpen, decltype(&DrvOpen)>);
static_assert(!FitsSlot<kDrvOpen, decltype(&DrvStop)>);
static_assert(!FitsSlot<kDrvGetStats, decltype(&DrvSetActive)>);

void Unload() {
  try {
    DestroyAllInstances();
  } catch (...) {
  }
  FreeAllModules();
}

}  // namespace veldrane::entry
