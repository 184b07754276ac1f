#include "hostlink/host_modules.h"

#include <atomic>

#include "hostlink/report.h"
#include "platform/modules/module.h"

namespace veldrane {
namespace {

using platform::ModuleHandle;
using platform::Modules;

// Handles are touched on the host's thread only; the tag-database table is read by transmit
// threads too, so it is atomic.
struct HostModules {
  ModuleHandle dbm = nullptr;
  ModuleHandle rt = nullptr;
  ModuleHandle ed = nullptr;
  ModuleHandle tg = nullptr;
  std::atomic<const TarkoFn*> dbm_table{nullptr};
  const TarkoFn* rt_table = nullptr;
  const TarkoFn* ed_table = nullptr;
  std::atomic<const TarkoFn*> tg_table{nullptr};
};

HostModules& Host() {
  static HostModules host;
  return host;
}

const TarkoFn* FindTable(ModuleHandle module, const char* name) {
  return static_cast<const TarkoFn*>(Modules().find_export(module, name));
}

template <DbmSlot S>
SlotFn<S> Dbm() {
  return GetSlot<S>(Host().dbm_table.load());
}

void Free(ModuleHandle& module) {
  if (module) Modules().free(module);
  module = nullptr;
}

}  // namespace

void LoadRuntimeModules() {
  HostModules& h = Host();
  if (!h.dbm) {
    h.dbm = Modules().load(kDbmModuleName);
    if (h.dbm) h.dbm_table.store(FindTable(h.dbm, kFuncTableName));
  }
  if (!h.rt) {
    h.rt = Modules().load(kRtModuleName);
    if (h.rt) {
      h.rt_table = FindTable(h.rt, kFuncTableName);
      SetEventLog(GetSlot<kLogWrite>(h.rt_table));
    }
  }
}

bool LoadConfigureModules() {
  HostModules& h = Host();
  h.ed = Modules().load(kEdModuleName);
  if (!h.ed) return false;
  h.ed_table = FindTable(h.ed, kEdFuncTableName);
  if (!h.ed_table) return true;
  h.tg = Modules().load(kTgModuleName);
  h.tg_table.store(h.tg ? FindTable(h.tg, kTgFuncTableName) : nullptr);
  return true;
}

bool HasEditorTable() {
  return Host().ed_table != nullptr;
}

void FreeConfigureModules() {
  HostModules& h = Host();
  Free(h.ed);
  h.ed_table = nullptr;
  h.tg_table.store(nullptr);
  Free(h.tg);
}

void FreeAllModules() {
  HostModules& h = Host();
  Free(h.ed);
  h.ed_table = nullptr;
  SetEventLog(nullptr);
  h.rt_table = nullptr;
  Free(h.rt);
  h.tg_table.store(nullptr);
  Free(h.tg);
  h.dbm_table.store(nullptr);
  Free(h.dbm);
}

const TarkoFn* DbmTable() {
  return Host().dbm_table.load();
}

void SetDbmTable(const TarkoFn* table) {
  Host().dbm_table.store(table);
}

const TarkoFn* TgTable() {
  return Host().tg_table.load();
}

namespace tagdb {

bool Present() {
  return DbmTable() != nullptr;
}

int32_t OpenClient() {
  auto fn = Dbm<kDbOpenClient>();
  return fn ? fn() : -1;
}

void CloseClient(int32_t client) {
  if (auto fn = Dbm<kDbCloseClient>()) fn(client);
}

int32_t FindTag(int32_t client, const char* name) {
  auto fn = Dbm<kDbFindTag>();
  return fn ? fn(client, name) : -1;
}

void Advise(int32_t client, int32_t tag, void* user_data) {
  if (auto fn = Dbm<kDbAdvise>()) fn(client, tag, 1, user_data);
}

CTagChangeArray* GetChanges(int32_t client) {
  auto fn = Dbm<kDbGetChanges>();
  return fn ? fn(client) : nullptr;
}

}  // namespace tagdb

int32_t BrowseTag(CString* tag) {
  auto fn = GetSlot<kTgBrowseTag>(TgTable());
  return fn ? fn(tag) : 0;
}

}  // namespace veldrane
