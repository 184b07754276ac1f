// Veldrane.so: the exported entry table and the module's load and unload handlers.
#include "driver/entry_points.h"
#include "veldrane/drv_table.h"

extern "C" {
// Filled when the module is loaded, not statically initialised.
__attribute__((visibility("default"))) DrvFn DrvFuncTable[kDrvTableSize];
}

namespace {

__attribute__((constructor)) void OnModuleLoad() {
  veldrane::entry::FillTable(DrvFuncTable);
}

// Destroys every instance (stopping running engines first) and frees the host modules.
__attribute__((destructor)) void OnModuleUnload() {
  veldrane::entry::Unload();
}

}  // namespace
