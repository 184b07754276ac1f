// The process-wide registry of open driver instances. An instance's index is its position;
// entries are only appended, and destroyed all together when the module is unloaded.
#pragma once

#include <cstdint>
#include <memory>

class CVeldraneDoc;

namespace veldrane {

// Appends a document; returns its index.
int32_t RegisterInstance(std::unique_ptr<CVeldraneDoc> doc);
// The document at index, or null for an index below 0 or not below the count.
CVeldraneDoc* FindInstance(int32_t index);
// Destroys every document from index 0 upward and empties the registry.
void DestroyAllInstances();

}  // namespace veldrane
