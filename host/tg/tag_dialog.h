// The reference tag browser's window: the tags of the tag database to pick one from.
#pragma once

#include <cstdint>

class CString;

// Shows the tags and lets the user pick one: nonzero with the name in *tag, 0 when the user
// cancels or no window can be shown (no application object of the toolkit in the process).
int32_t ShowTagDialog(CString* tag);
