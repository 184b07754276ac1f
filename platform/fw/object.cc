#include "fw/object.h"

#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

// Classes register from static initialisers of several modules, so the map is built on first
// use and guarded: two modules may load on two threads.
struct Registry {
  std::mutex mutex;
  // Per name, the registrations in order; the newest one answers until it is unregistered. Two
  // modules may carry the same class (a host that reads configurations itself and then loads
  // the driver); each reads the class it expects as its own (CArchive::ReadObject).
  std::unordered_map<std::string, std::vector<const CRuntimeClass*>> classes;
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
  registry.classes[std::string(rtc->class_name, length)].push_back(rtc);
  return true;
}

const CRuntimeClass* FindRuntimeClass(const char* name, size_t length) {
  if (!name || length == 0 || length >= kMaxClassNameLength) return nullptr;
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  auto it = registry.classes.find(std::string(name, length));
  return (it == registry.classes.end() || it->second.empty()) ? nullptr : it->second.back();
}

void UnregisterRuntimeClass(const CRuntimeClass* rtc) {
  if (!rtc || !rtc->class_name) return;
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  auto it = registry.classes.find(rtc->class_name);
  if (it == registry.classes.end()) return;
  std::erase(it->second, rtc);
  if (it->second.empty()) registry.classes.erase(it);
}

CRuntimeClassRegistrar::CRuntimeClassRegistrar(const CRuntimeClass* rtc)
    : rtc_(rtc), registered_(RegisterRuntimeClass(rtc)) {}

CRuntimeClassRegistrar::~CRuntimeClassRegistrar() {
  if (registered_) UnregisterRuntimeClass(rtc_);
}
