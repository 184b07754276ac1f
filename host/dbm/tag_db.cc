// The reference tag database: tags by name with a value and a type code, clients, and per-client
// subscriptions whose newest values DbGetChanges hands out.
#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/dbm/tag_db_api.h"
#include "tarko/host_tables.h"
#include "tarko/tagval.h"

namespace {

struct Subscription {
  int32_t tag;
  void* user_data;
  bool changed;  // a value waits for the next DbGetChanges
};

struct Client {
  bool open = true;
  std::vector<Subscription> subscriptions;
};

// A subscription as its tag finds it.
struct Subscriber {
  int32_t client;
  size_t subscription;  // in the client's list
};

struct Tag {
  std::string name;
  CTagVal value;
  // Its subscriptions of open clients, so that a new value marks them without a walk through
  // every client's subscriptions (thousands of tags change every second on a busy runner).
  std::vector<Subscriber> subscribers;
};

struct Database {
  std::mutex mutex;
  std::vector<Tag> tags;
  std::unordered_map<std::string, int32_t> by_name;
  std::vector<Client> clients;  // the handle is the position
  int32_t clients_opened = 0;
};

// Never destroyed: a driver may still call in while the process exits.
Database& Db() {
  static Database& db = *std::make_unique<Database>().release();
  return db;
}

Client* FindClient(Database& db, int32_t client) {
  if (client < 0 || static_cast<size_t>(client) >= db.clients.size()) return nullptr;
  Client& c = db.clients[static_cast<size_t>(client)];
  return c.open ? &c : nullptr;
}

void MarkChanged(Database& db, int32_t tag) {
  for (const Subscriber& s : db.tags[static_cast<size_t>(tag)].subscribers) {
    db.clients[static_cast<size_t>(s.client)].subscriptions[s.subscription].changed = true;
  }
}

int32_t SetLocked(Database& db, int32_t index, double value, uint16_t type) {
  if (index < 0 || static_cast<size_t>(index) >= db.tags.size()) return -1;
  db.tags[static_cast<size_t>(index)].value.Set(type, value);
  MarkChanged(db, index);
  return 0;
}

// FuncTable slots.

int32_t DbOpenClient() {
  Database& db = Db();
  std::lock_guard<std::mutex> lock(db.mutex);
  db.clients.emplace_back();
  ++db.clients_opened;
  return static_cast<int32_t>(db.clients.size() - 1);
}

void DbCloseClient(int32_t client) {
  Database& db = Db();
  std::lock_guard<std::mutex> lock(db.mutex);
  if (Client* c = FindClient(db, client)) {
    for (const Subscription& sub : c->subscriptions) {
      auto& list = db.tags[static_cast<size_t>(sub.tag)].subscribers;
      list.erase(std::remove_if(list.begin(), list.end(),
                                [&](const Subscriber& s) { return s.client == client; }),
                 list.end());
    }
    c->open = false;
    c->subscriptions.clear();
  }
}

int32_t DbFindTag(int32_t client, const char* name) {
  Database& db = Db();
  std::lock_guard<std::mutex> lock(db.mutex);
  if (!FindClient(db, client) || !name) return -1;
  auto it = db.by_name.find(name);
  return it == db.by_name.end() ? -1 : it->second;
}

// A new subscription delivers the tag's present value at once when it has one, as a host's
// database does, so a meter shows its value without waiting for the first change.
void DbAdvise(int32_t client, int32_t tag, int32_t, void* user_data) {
  Database& db = Db();
  std::lock_guard<std::mutex> lock(db.mutex);
  Client* c = FindClient(db, client);
  if (!c || tag < 0 || static_cast<size_t>(tag) >= db.tags.size()) return;
  Tag& t = db.tags[static_cast<size_t>(tag)];
  bool has_value = t.value.GetType() != kTagTypeNone;
  t.subscribers.push_back({client, c->subscriptions.size()});
  c->subscriptions.push_back({tag, user_data, has_value});
}

CTagChangeArray* DbGetChanges(int32_t client) {
  Database& db = Db();
  std::lock_guard<std::mutex> lock(db.mutex);
  Client* c = FindClient(db, client);
  if (!c) return nullptr;
  std::unique_ptr<CTagChangeArray> changes;
  for (Subscription& s : c->subscriptions) {
    if (!s.changed) continue;
    s.changed = false;
    if (!changes) changes = std::make_unique<CTagChangeArray>();
    auto record =
        std::make_unique<TagChangeRecord>(s.user_data, db.tags[static_cast<size_t>(s.tag)].value);
    changes->Add(record.get());
    record.release();  // the array's caller owns it from here
  }
  return changes.release();
}

}  // namespace

extern "C" {

// Filled when the module is loaded.
TARKO_API TarkoFn FuncTable[kHostTableSize] = {};

int32_t TagDbDefine(const char* name, uint16_t type) {
  if (!name) return -1;
  Database& db = Db();
  std::lock_guard<std::mutex> lock(db.mutex);
  auto it = db.by_name.find(name);
  if (it != db.by_name.end()) return it->second;
  int32_t index = static_cast<int32_t>(db.tags.size());
  db.tags.push_back({name, CTagVal(type, 0.0), {}});
  db.by_name.emplace(name, index);
  return index;
}

int32_t TagDbSet(const char* name, double value, uint16_t type) {
  if (!name) return -1;
  Database& db = Db();
  std::lock_guard<std::mutex> lock(db.mutex);
  auto it = db.by_name.find(name);
  return it == db.by_name.end() ? -1 : SetLocked(db, it->second, value, type);
}

int32_t TagDbSetByIndex(int32_t index, double value, uint16_t type) {
  Database& db = Db();
  std::lock_guard<std::mutex> lock(db.mutex);
  return SetLocked(db, index, value, type);
}

int32_t TagDbFind(const char* name) {
  if (!name) return -1;
  Database& db = Db();
  std::lock_guard<std::mutex> lock(db.mutex);
  auto it = db.by_name.find(name);
  return it == db.by_name.end() ? -1 : it->second;
}

int32_t TagDbCount(void) {
  Database& db = Db();
  std::lock_guard<std::mutex> lock(db.mutex);
  return static_cast<int32_t>(db.tags.size());
}

int32_t TagDbName(int32_t index, char* buffer, int32_t size) {
  Database& db = Db();
  std::lock_guard<std::mutex> lock(db.mutex);
  if (index < 0 || index >= static_cast<int32_t>(db.tags.size())) return -1;
  const std::string& name = db.tags[static_cast<size_t>(index)].name;
  if (buffer && size > 0) {
    size_t n = std::min(name.size(), static_cast<size_t>(size) - 1);
    std::memcpy(buffer, name.data(), n);
    buffer[n] = '\0';
  }
  return static_cast<int32_t>(name.size());
}

int32_t TagDbOpenClientCount(void) {
  Database& db = Db();
  std::lock_guard<std::mutex> lock(db.mutex);
  int32_t n = 0;
  for (const Client& c : db.clients) n += c.open ? 1 : 0;
  return n;
}

int32_t TagDbClientsOpened(void) {
  Database& db = Db();
  std::lock_guard<std::mutex> lock(db.mutex);
  return db.clients_opened;
}

int32_t TagDbSubscriptionCount(void) {
  Database& db = Db();
  std::lock_guard<std::mutex> lock(db.mutex);
  size_t n = 0;
  for (const Client& c : db.clients) n += c.open ? c.subscriptions.size() : 0;
  return static_cast<int32_t>(n);
}

void TagDbReset(void) {
  Database& db = Db();
  std::lock_guard<std::mutex> lock(db.mutex);
  db.tags.clear();
  db.by_name.clear();
  db.clients.clear();
  db.clients_opened = 0;
}

}  // extern "C"

namespace {

__attribute__((constructor)) void FillFuncTable() {
  SetSlot<kDbOpenClient>(FuncTable, &DbOpenClient);
  SetSlot<kDbCloseClient>(FuncTable, &DbCloseClient);
  SetSlot<kDbFindTag>(FuncTable, &DbFindTag);
  SetSlot<kDbAdvise>(FuncTable, &DbAdvise);
  SetSlot<kDbGetChanges>(FuncTable, &DbGetChanges);
}

}  // namespace
