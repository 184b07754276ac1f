// TarkoEd.so: the host's configuration-time module. The driver calls none of its slots; the
// table's presence is what lets DrvConfigure open the configuration window.
#include "tarko/export.h"
#include "tarko/host_tables.h"

extern "C" {
TARKO_API TarkoFn EdFuncTable[kHostTableSize] = {};
}
