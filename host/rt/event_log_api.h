// Reference host only: the event log's own API (TarkoRt.so), for the host runner and tests.
// The driver writes through FuncTable slot 19 (LogWrite) only.
//
// Every function is thread-safe. Lines are the raw code page 949 bytes the driver sent.
#pragma once

#include <cstdint>

#include "tarko/export.h"

extern "C" {
// Appends every line to this file ("YYYY-MM-DD HH:MM:SS.mmm 0xLLL line", raw bytes); null
// closes it. Returns 0, or -1 (errno says why) when the file cannot be opened. A write that
// fails later is said once on standard error, and again only after a write has worked.
TARKO_API int32_t EventLogOpenFile(const char* path);
// Shows every line on standard error, converted to UTF-8 with control characters escaped (off
// by default).
TARKO_API void EventLogSetConsole(int32_t on);
// Receives every line as it is written (raw bytes), on the writer's thread. Null: none.
typedef void (*EventLogListener)(int32_t category, int32_t level_word, const char* line,
                                 void* context);
TARKO_API void EventLogSetListener(EventLogListener listener, void* context);
// The lines kept in memory (the newest 100,000): count, and line i (0 is the oldest kept).
TARKO_API int32_t EventLogCount(void);
// Copies line i into buffer (terminated, cut to capacity - 1 bytes); returns its full length,
// or -1 when there is no line i. category and level_word may be null.
TARKO_API int32_t EventLogGet(int32_t i, int32_t* category, int32_t* level_word, char* buffer,
                              int32_t capacity);
TARKO_API void EventLogClear(void);
}
