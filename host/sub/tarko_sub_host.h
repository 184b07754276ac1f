// Reference host only: what the host runner and tests use of TarkoSub.so beyond the SDK.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tarko/export.h"

extern "C" {
// Receives every CTarkoError::ErrMsg call (code, mode, text or null). Null restores the
// default, which prints the message on standard error.
typedef void (*TarkoErrMsgHandler)(int32_t code, int32_t mode, const char* text, void* context);
TARKO_API void TarkoSubSetErrMsgHandler(TarkoErrMsgHandler handler, void* context);
// 1 when this process has reported CTarkoError::ErrMsg `code`, with the text of the last such
// report copied into `text` (terminated, cut to `size`; may be null); else 0.
TARKO_API int32_t TarkoSubLastErrMsg(int32_t code, char* text, size_t size);
}
