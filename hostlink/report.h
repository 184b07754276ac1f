// ReportMessage: the driver's only way to the host's event log.
#pragma once

#include <cstdint>

#include "tarko/host_tables.h"

namespace veldrane {

inline constexpr const char* kReportPrefix = "[VELDRANE] ";

// Levels the callers use.
enum ReportLevel : int32_t { kLevelSetup = 0, kLevelFailure = 1, kLevelState = 2 };

// The messages the driver reports, by their numbers in the table of texts (texts.h); 6, 7 and 9
// are in the table but never reported.
enum Message : int32_t {
  kMessageStarted = 1,           // communication started
  kMessageStopped = 2,           // communication ended
  kMessagePortReady = 3,         // the port is set up
  kMessagePortFailed = 4,        // the port [name] cannot be opened
  kMessageFileFailed = 5,        // the file [path] cannot be opened
  kMessageSendFailed = 8,        // no data can be sent to station [name]; also the result of a
                                 // transmission that failed
  kMessageStationLost = 10,      // no communication with station [name]
  kMessageStationRestored = 11,  // communication with station [name] is restored
  kMessageTagMissing = 12,       // tag [name] is not in the tag database
};

// Where lines go: the event log's LogWrite, or null for silence. Set when the event-log module
// is loaded and cleared before it is freed; may be called while other threads report.
void SetEventLog(LogWriteFn log_write);

// Formats message `index` with `text` (first placeholder) and `number`, prefixes it and hands
// it to the event log with the level word level | 0x100. Returns -index when the line was
// handed over; index itself when not (no event log, an index below 0 or beyond the table).
int32_t ReportMessage(int32_t index, int32_t level, const char* text, int32_t number);

}  // namespace veldrane
