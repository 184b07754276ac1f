// The host modules' exported tables, as the driver calls them.
//
// ABI conventions:
//  - Each module exports a C array of function pointers; slot N is element N. The driver looks
//    the array up by name (kFuncTableName etc.) and reads a slot as its function type with
//    GetSlot<kDbFindTag>(table) (tarko/slot_table.h); modules fill theirs with SetSlot.
//  - Texts are null-terminated code page 949 bytes, owned by the caller for the call only.
//  - Threads: DbGetChanges may be called from the driver's transmit threads while the host's
//    thread calls the other tag-database slots; LogWrite is called from both. A module must
//    accept that.
//  - Modules are NAME.so on Linux (TarkoDbm.so, TarkoRt.so, TarkoEd.so, TarkoTg.so), found by
//    the dynamic loader's usual search, and NAME.dll on Windows, found by LoadLibrary's (the
//    program's folder first).
#pragma once

#include <cstdint>

#include "tarko/export.h"
#include "tarko/slot_table.h"

class CString;
class CTagChangeArray;

extern "C" {
typedef void (*TarkoFn)(void);
}

inline constexpr const char* kDbmModuleName = "TarkoDbm" TARKO_MODULE_SUFFIX;
inline constexpr const char* kRtModuleName = "TarkoRt" TARKO_MODULE_SUFFIX;
inline constexpr const char* kEdModuleName = "TarkoEd" TARKO_MODULE_SUFFIX;
inline constexpr const char* kTgModuleName = "TarkoTg" TARKO_MODULE_SUFFIX;
inline constexpr const char* kFuncTableName = "FuncTable";      // TarkoDbm.so and TarkoRt.so
inline constexpr const char* kEdFuncTableName = "EdFuncTable";  // TarkoEd.so
inline constexpr const char* kTgFuncTableName = "TgFuncTable";  // TarkoTg.so
inline constexpr int kHostTableSize = 32;  // slots in the reference modules' tables

// Tag database (FuncTable of TarkoDbm.so).
enum DbmSlot : int {
  kDbOpenClient = 10,   // int32_t ()          -> client handle; negative: no client
  kDbCloseClient = 11,  // void (client)       called only with a handle >= 0
  kDbFindTag = 12,      // int32_t (client, name) -> tag index, or -1 when there is no such tag
  kDbAdvise = 16,       // void (client, tag, 1, user_data): deliver changes of tag to client
  kDbGetChanges = 18,   // CTagChangeArray* (client): changes since the last call, or null;
                        // the caller owns the array and its records (tarko/tagval.h)
};

// Event log (FuncTable of TarkoRt.so).
enum RtSlot : int {
  kLogWrite = 19,  // void (3, level word, line): level word = level | 0x100
};

// Tag browser (TgFuncTable of TarkoTg.so).
enum TgSlot : int {
  kTgBrowseTag = 4,  // int32_t (CString* tag): nonzero when the user chose a tag (then in *tag)
};

// Configuration-time module (EdFuncTable of TarkoEd.so): the driver calls none of its slots; the
// table's presence is what lets the configuration window open.

extern "C" {
typedef int32_t (*DbOpenClientFn)(void);
typedef void (*DbCloseClientFn)(int32_t client);
typedef int32_t (*DbFindTagFn)(int32_t client, const char* tag_name);
typedef void (*DbAdviseFn)(int32_t client, int32_t tag_index, int32_t mode, void* user_data);
typedef CTagChangeArray* (*DbGetChangesFn)(int32_t client);
typedef void (*LogWriteFn)(int32_t category, int32_t level_word, const char* line);
typedef int32_t (*TgBrowseTagFn)(CString* tag_name);
}

// Each slot's function type.
template <>
struct SlotType<DbmSlot, kDbOpenClient> : SlotFnIs<DbOpenClientFn> {};
template <>
struct SlotType<DbmSlot, kDbCloseClient> : SlotFnIs<DbCloseClientFn> {};
template <>
struct SlotType<DbmSlot, kDbFindTag> : SlotFnIs<DbFindTagFn> {};
template <>
struct SlotType<DbmSlot, kDbAdvise> : SlotFnIs<DbAdviseFn> {};
template <>
struct SlotType<DbmSlot, kDbGetChanges> : SlotFnIs<DbGetChangesFn> {};
template <>
struct SlotType<RtSlot, kLogWrite> : SlotFnIs<LogWriteFn> {};
template <>
struct SlotType<TgSlot, kTgBrowseTag> : SlotFnIs<TgBrowseTagFn> {};
