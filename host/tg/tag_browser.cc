// TarkoTg.so: the host's tag browser. A browse shows the tags of the tag database to pick from
// (host/tg/tag_dialog.h); a name queued with TagBrowserQueue is picked once without asking.
#include <memory>
#include <mutex>
#include <string>

#include "fw/cstring.h"
#include "host/tg/tag_browser_api.h"
#include "host/tg/tag_dialog.h"
#include "tarko/host_tables.h"

namespace {

struct Browser {
  std::mutex mutex;
  bool queued = false;
  std::string next;
};

Browser& TheBrowser() {
  static Browser browser;
  return browser;
}

int32_t TgBrowseTag(CString* tag) {
  if (!tag) return 0;
  {
    Browser& b = TheBrowser();
    std::lock_guard<std::mutex> lock(b.mutex);
    if (b.queued) {
      b.queued = false;
      *tag = b.next.c_str();
      return 1;
    }
  }
  return ShowTagDialog(tag);
}

}  // namespace

extern "C" {

// Filled when the module is loaded.
TARKO_API TarkoFn TgFuncTable[kHostTableSize] = {};

void TagBrowserQueue(const char* name) {
  Browser& b = TheBrowser();
  std::lock_guard<std::mutex> lock(b.mutex);
  b.queued = name != nullptr;
  b.next = name ? name : "";
}

}  // extern "C"

namespace {

__attribute__((constructor)) void FillTgFuncTable() {
  SetSlot<kTgBrowseTag>(TgFuncTable, &TgBrowseTag);
}

}  // namespace
