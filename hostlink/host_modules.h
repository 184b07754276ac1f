// The host modules the driver loads at run time (tag database, event log) and at configuration
// time (configuration-time module, tag browser): process-wide handles and tables.
#pragma once

#include <cstdint>

#include "tarko/host_tables.h"

class CString;
class CTagChangeArray;

namespace veldrane {

// DrvOpen: loads TarkoDbm.so and TarkoRt.so when their handles are null. A module that failed
// to load is tried again next time; one that loaded without its table is not.
void LoadRuntimeModules();
// DrvConfigure: loads TarkoEd.so (false when it cannot be loaded), then, when EdFuncTable is
// there, TarkoTg.so. HasEditorTable tells whether the window may open.
bool LoadConfigureModules();
bool HasEditorTable();
// End of DrvConfigure: frees TarkoEd.so and TarkoTg.so.
void FreeConfigureModules();
// Module unload: frees what is loaded, in the order TarkoEd, TarkoRt, TarkoTg, TarkoDbm.
void FreeAllModules();

// The tag-database table, or null. Tests may install the table of a module they link.
const TarkoFn* DbmTable();
void SetDbmTable(const TarkoFn* table);
// The tag-browser table, or null.
const TarkoFn* TgTable();

// The tag database's slots as the engine calls them; each checks that the table and the slot
// exist and otherwise answers "nothing" (-1 handle, -1 index, null changes).
namespace tagdb {
bool Present();
int32_t OpenClient();
void CloseClient(int32_t client);
int32_t FindTag(int32_t client, const char* name);
void Advise(int32_t client, int32_t tag, void* user_data);
CTagChangeArray* GetChanges(int32_t client);
}  // namespace tagdb

// TgBrowseTag; 0 when there is no tag browser.
int32_t BrowseTag(CString* tag);

}  // namespace veldrane
