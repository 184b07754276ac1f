// An event-log line as the runner prints and shows it: "HH:MM:SS state  TEXT" (the journal
// stamps each line itself, so there without the time).
#pragma once

#include <string>

#include "host/runner/gateway/status_output.h"
#include "host/runner/outputs/console_lines.h"

namespace veldrane::host {

std::string EventText(const EventEntry& event);
inline Priority EventTextPriority(const EventEntry& event) {
  return EventPriority(event.level, event.raw.c_str());
}

}  // namespace veldrane::host
