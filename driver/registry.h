// The process-wide registry of open driver instances. An instance's index is its position;
// entries are only appended, and destroyed all together when the module is unloaded.
#pragma once

#include <cstdint>
#include <memory>

namespace veldrane {

class DriverInstance;

// Appends an instance; returns its index.
int32_t RegisterInstance(std::unique_ptr<DriverInstance> instance);
// The instance at index, or null for an index below 0 or not below the count.
DriverInstance* FindInstance(int32_t index);
// Destroys every instance from index 0 upward and empties the registry.
void DestroyAllInstances();

}  // namespace veldrane
