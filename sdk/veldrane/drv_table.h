// Veldrane.so (Veldrane.dll on Windows): the driver's entry table, as a host calls it.
//
// ABI conventions:
//  - The module exports one symbol, `DrvFuncTable`: 32 pointer-sized slots. Slots 0 to 16 hold
//    the entry functions below (kDrvSlotCount); 17 to 31 are null. The table is filled when the
//    module is loaded, so read it only after dlopen (LoadLibrary) has returned. On Windows it is
//    the DLL's only export (a data export, by its .def file), found with GetProcAddress.
//  - Calling convention: the platform's C convention (x86-64 System V; on Windows x64 the one
//    convention there is). Integers are fixed-width; pointers are 64 bits.
//  - CString objects that cross the table are allocated, grown and freed only inside the
//    framework library (libveldrane-fw.so, veldrane-fw.dll) that host and driver share, whatever
//    C++ runtime each module carries.
//  - Read a slot as its function type with GetSlot<kDrvOpen>(DrvFuncTable) (tarko/slot_table.h):
//    each slot's type is paired with its number below.
//  - Threads: every slot is called from the host's thread. Calls into one instance must not
//    overlap; statistics, reset and enable calls may run while that instance's own transmit
//    thread sends.
//  - Instances: DrvOpen returns an index (0, 1, 2, ... in order of success) that stays valid
//    until the module is unloaded. Any integer is a safe index: a bad one gets the slot's
//    fixed answer and nothing happens.
//  - Texts: null-terminated code page 949 bytes, owned by the caller for the call only. Station
//    names compare with ASCII letters taken without regard to case and every other character,
//    including both bytes of a Korean character, exactly.
//  - Out parameters are owned by the caller; the driver only writes them. A null out pointer
//    makes the driver skip that output.
//  - No C++ exception ever leaves a slot.
//  - Messages go to the host's event log (TarkoRt.so) as "[VELDRANE] " lines; see sdk/tarko.
#pragma once

#include <cstdint>

#include "tarko/export.h"
#include "tarko/slot_table.h"

class CString;

extern "C" {
typedef void (*DrvFn)(void);
}

inline constexpr const char* kDrvModuleName = "Veldrane" TARKO_MODULE_SUFFIX;
inline constexpr const char* kDrvTableName = "DrvFuncTable";
inline constexpr int kDrvTableSize = 32;
inline constexpr int kDrvSlotCount = 17;
inline constexpr int32_t kDrvVersion = 0x00010000;

enum DrvSlot : int {
  // int32_t (): always 0x00010000. Callable before any DrvOpen.
  kDrvGetVersion = 0,
  // int32_t (path): opens the configuration file into a new instance; its index, or -1 after
  // message 5 ("cannot open the given file") with the path. Loads TarkoDbm.so and TarkoRt.so
  // the first time (and again after a failed load); their absence is not an error.
  kDrvOpen = 1,
  // int32_t (path): runs the configuration window on the file; 1 when the user saved at least
  // once, else 0 (also when TarkoEd.so cannot be loaded).
  kDrvConfigure = 2,
  // int32_t (index): opens the serial port of the instance. 0 on success and for a bad index;
  // otherwise the port failed: -4 after message 4, or 4 when no event log is loaded.
  kDrvOpenPort = 3,
  // int32_t (index): looks up every station's linked tag (message 12 for each one missing).
  // Always 0.
  kDrvResolveTags = 4,
  // int32_t (index): stops communication of the instance and returns when its transmit
  // thread has ended: within one frame's bounds (about a second), as the stop also ends the
  // pause after a frame and a frame's wait for CTS. Always 0.
  kDrvStop = 5,
  // int32_t (index, a, b, c, d, e): nothing; always -1.
  kDrvRequest = 6,
  // int32_t (index, a, b): nothing; always 0.
  kDrvNotify = 7,
  // int32_t (): always 0.
  kDrvQueryA = 8,
  // int32_t (): always 1.
  kDrvQueryB = 9,
  // void (): nothing.
  kDrvHookA = 10,
  // void (): nothing.
  kDrvHookB = 11,
  // const char* (): "VELDRANE", valid while the module is loaded.
  kDrvGetName = 12,
  // void (index, station or null, state): null station: 1 starts and 0 stops communication;
  // named station: enables (nonzero) or disables (0) that station.
  kDrvSetActive = 13,
  // void (index, station or null): clears the frame counters of one or all stations.
  kDrvResetStats = 14,
  // int32_t (index, station or null, sent*, failed*, third*, fourth*): a station's counters
  // (assigned) or the sums over all stations (added to the outputs, which the caller zeroes).
  // Result: -1 nothing to report (bad index, unknown station, disabled, not running),
  // 0 all well, 1 failing (or the port is closed, outputs untouched).
  kDrvGetStats = 15,
  // void (index, station, CString* number, CString* tag): the station's number as decimal
  // text and its linked tag name; nothing for a null or unknown station.
  kDrvGetStationInfo = 16,
};

extern "C" {
typedef int32_t (*DrvGetVersionFn)(void);
typedef int32_t (*DrvOpenFn)(const char* path);
typedef int32_t (*DrvConfigureFn)(const char* path);
typedef int32_t (*DrvOpenPortFn)(int32_t index);
typedef int32_t (*DrvResolveTagsFn)(int32_t index);
typedef int32_t (*DrvStopFn)(int32_t index);
typedef int32_t (*DrvRequestFn)(int32_t index, int32_t, int32_t, int32_t, int32_t, int32_t);
typedef int32_t (*DrvNotifyFn)(int32_t index, int32_t, int32_t);
typedef int32_t (*DrvQueryAFn)(void);
typedef int32_t (*DrvQueryBFn)(void);
typedef void (*DrvHookAFn)(void);
typedef void (*DrvHookBFn)(void);
typedef const char* (*DrvGetNameFn)(void);
typedef void (*DrvSetActiveFn)(int32_t index, const char* station, int32_t state);
typedef void (*DrvResetStatsFn)(int32_t index, const char* station);
typedef int32_t (*DrvGetStatsFn)(int32_t index, const char* station, int32_t* sent, int32_t* failed,
                                 int32_t* third, int32_t* fourth);
typedef void (*DrvGetStationInfoFn)(int32_t index, const char* station, CString* number,
                                    CString* tag);
}

// Each slot's function type.
template <>
struct SlotType<DrvSlot, kDrvGetVersion> : SlotFnIs<DrvGetVersionFn> {};
template <>
struct SlotType<DrvSlot, kDrvOpen> : SlotFnIs<DrvOpenFn> {};
template <>
struct SlotType<DrvSlot, kDrvConfigure> : SlotFnIs<DrvConfigureFn> {};
template <>
struct SlotType<DrvSlot, kDrvOpenPort> : SlotFnIs<DrvOpenPortFn> {};
template <>
struct SlotType<DrvSlot, kDrvResolveTags> : SlotFnIs<DrvResolveTagsFn> {};
template <>
struct SlotType<DrvSlot, kDrvStop> : SlotFnIs<DrvStopFn> {};
template <>
struct SlotType<DrvSlot, kDrvRequest> : SlotFnIs<DrvRequestFn> {};
template <>
struct SlotType<DrvSlot, kDrvNotify> : SlotFnIs<DrvNotifyFn> {};
template <>
struct SlotType<DrvSlot, kDrvQueryA> : SlotFnIs<DrvQueryAFn> {};
template <>
struct SlotType<DrvSlot, kDrvQueryB> : SlotFnIs<DrvQueryBFn> {};
template <>
struct SlotType<DrvSlot, kDrvHookA> : SlotFnIs<DrvHookAFn> {};
template <>
struct SlotType<DrvSlot, kDrvHookB> : SlotFnIs<DrvHookBFn> {};
template <>
struct SlotType<DrvSlot, kDrvGetName> : SlotFnIs<DrvGetNameFn> {};
template <>
struct SlotType<DrvSlot, kDrvSetActive> : SlotFnIs<DrvSetActiveFn> {};
template <>
struct SlotType<DrvSlot, kDrvResetStats> : SlotFnIs<DrvResetStatsFn> {};
template <>
struct SlotType<DrvSlot, kDrvGetStats> : SlotFnIs<DrvGetStatsFn> {};
template <>
struct SlotType<DrvSlot, kDrvGetStationInfo> : SlotFnIs<DrvGetStationInfoFn> {};
