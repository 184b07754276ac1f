// The JSON of the web server: the stations' objects (shaped as the MQTT status topics', with
// what the page shows besides), the lines, the inputs, the event log and the whole status.
#pragma once

#include <deque>
#include <string>

#include "host/runner/gateway/status_output.h"
#include "host/runner/web/status_snapshot.h"

namespace veldrane::host {

// {"state":"ok","sent":12,"failed":0,"value":12.5,"station":"FT-101","number":3,"tag":"FLOW1",
//  "line":"line1","kind":1,"model":"...","decimals":1,"shows":"12.5","width":8}
std::string PageStationJson(const StationSnapshot& station, const std::string& line_name);

// {"version":N,"elapsed":S,"lines":[{...,"stations":[...]}],"inputs":[...]}: /api/status and the
// page's first event.
std::string StatusDocument(const Snapshot& snapshot);
// What changed from the snapshot before: every line and input (they are few) and the stations
// changed in this version, by their index in the snapshot:
// {"version":N,"elapsed":S,"lines":[...],"inputs":[...],"stations":{"7":{...}}}.
std::string StatusDelta(const Snapshot& snapshot);

// {"sequence":3,"time":"2026-01-02T03:04:05Z","level":"fail","text":"..."}
std::string EventJson(const EventEntry& event);
// {"events":[...]}, newest first.
std::string EventsDocument(const std::deque<EventEntry>& events);

}  // namespace veldrane::host
