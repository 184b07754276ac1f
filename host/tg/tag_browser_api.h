// Reference host only: what tests use of TarkoTg.so.
#pragma once

#include "tarko/export.h"

extern "C" {
// The next browse picks this tag name (code page 949); null: it picks nothing.
TARKO_API void TagBrowserQueue(const char* name);
}
