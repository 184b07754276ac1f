#include "fw/object.h"

#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>

namespace {

// Classes register from static initialisers of several modules, so the map is built on first
// use and guarded: two modules may load on two threads.
struct Registry {
  std::mutex mutex;
  std::unordered_map<std::string, const CRuntimeClass*> classes;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

}  // namespace

std::unique_ptr<CObject> CRuntimeClass::CreateObject() const {
  return create ? create() : nullptr;
}

CObject::~CObject() = default;

const CRuntimeClass* CObject::GetRuntimeClass() const {
  return nullptr;
}

void CObject::Serialize(CArchive&) {}

bool RegisterRuntimeClass(const CRuntimeClass* rtc) {
  if (!rtc || !rtc->class_name) return false;
  size_t length = std::strlen(rtc->class_name);
  if (length == 0 || length >= kMaxClassNameLength) return false;
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  return registry.classes.emplace(std::string(rtc->class_name, length), rtc).second;
}

const CRuntimeClass* FindRuntimeClass(const char* name, size_t length) {
  if (!name || length == 0 || length >= kMaxClassNameLength) return nullptr;
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  auto it = registry.classes.find(std::string(name, length));
  return it == registry.classes.end() ? nullptr : it->second;
}

void UnregisterRuntimeClass(const CRuntimeClass* rtc) {
  if (!rtc || !rtc->class_name) return;
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  auto it = registry.classes.find(rtc->class_name);
  if (it != registry.classes.end() && it->second == rtc) registry.classes.erase(it);
}

CRuntimeClassRegistrar::CRuntimeClassRegistrar(const CRuntimeClass* rtc)
    : rtc_(rtc), registered_(RegisterRuntimeClass(rtc)) {}

CRuntimeClassRegistrar::~CRuntimeClassRegistrar() {
  if (registered_) UnregisterRuntimeClass(rtc_);
}
