#include "driver/registry.h"

#include <vector>

#include "driver/driver_instance.h"
#include "platform/no_destructor.h"

namespace veldrane {
namespace {

// Emptied by the module's unload handler, which may run after the static destructors.
std::vector<std::unique_ptr<DriverInstance>>& Instances() {
  static platform::NoDestructor<std::vector<std::unique_ptr<DriverInstance>>> instances;
  return *instances;
}

}  // namespace

int32_t RegisterInstance(std::unique_ptr<DriverInstance> instance) {
  Instances().push_back(std::move(instance));
  return static_cast<int32_t>(Instances().size() - 1);
}

DriverInstance* FindInstance(int32_t index) {
  auto& instances = Instances();
  if (index < 0 || static_cast<size_t>(index) >= instances.size()) return nullptr;
  return instances[static_cast<size_t>(index)].get();
}

void DestroyAllInstances() {
  auto& instances = Instances();
  // The count is read again before each step: destroying one must not skip another.
  for (size_t i = 0; i < instances.size(); ++i) instances[i].reset();
  // The storage goes too: the list itself outlives the module's unload.
  std::vector<std::unique_ptr<DriverInstance>>().swap(instances);
}

}  // namespace veldrane
