// A build without the window toolkit: the tag browser picks only what tests queue.
#include "host/tg/tag_dialog.h"

int32_t ShowTagDialog(CString*) {
  return 0;
}
