// The lines of one run of the host runner: each configuration opened as its own instance of the
// driver, on its own port, started, watched and stopped together with the others.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/loader/driver_module.h"
#include "host/runner/lines/line_watch.h"
#include "host/runner/lines/port_lock.h"
#include "host/runner/lines/station_list.h"

namespace veldrane::host {

enum class LineState { kNotOpened, kConfigNotOpened, kPortNotOpened, kRunning, kStopped };

struct RunLine {
  std::string config;    // the path as given
  std::string port;      // the port the configuration names (COMn); empty when it cannot be read
  bool rts_cts = false;  // the port uses the RTS/CTS handshake
  std::vector<StationRow> stations;
  std::string read_error;    // why the stations could not be read; empty when they could
  std::string port_problem;  // why the port cannot carry the handshake; empty when it can
  int32_t index = -1;        // the driver's instance
  LineState state = LineState::kNotOpened;
  std::unique_ptr<LineWatch> watch;  // from the start on
  PortLock port_lock;                // while the line drives its port
  // The line's totals (DrvGetStats without a station) at the last reading of its stations.
  int32_t sent = 0, failed = 0, result = -2;
  // The values' version at the start of the line's latest pause (no frame, no value moved), and
  // the last one a pause of kSettle covered: every value set before such a pause went out before
  // it, so frames after it repeat values (the minute's refresh).
  int32_t frames_seen = 0;
  std::chrono::steady_clock::time_point pause_since{};
  uint64_t version_at_pause = 0, settled_version = 0;

  // The configuration and its port, escaped for the terminal: "hall2/line1.cfg (COM3)".
  std::string Title() const;
  bool running() const { return state == LineState::kRunning; }
};

// Why a line does not run, for the live table and the statistics: "not run: ...".
std::string NotRunningNote(const RunLine& line);

// Reads every configuration's stations and port. False with a message when two of them are the
// same file, or name the same port, or ports whose port-map entries lead to the same device or
// to the same device server however written (its name or address, a link or a file): each line
// needs its own.
bool ReadLines(const std::vector<std::string>& configs, std::vector<RunLine>* lines,
               std::string* error);

// DrvOpen, the port's lock, DrvOpenPort, DrvResolveTags and DrvSetActive for one line; `say`
// tells the user why a line does not run (a port that another runner drives among the causes).
// Leaves the line in kConfigNotOpened, kPortNotOpened or kRunning.
void StartLine(const DriverModule& driver, RunLine* line,
               const std::function<void(const std::string&)>& say);

// What a caller wants of the stations, besides their failures, when details are due.
struct WatchWants {
  bool every_frame = true;      // any move of the counts (the live table shows them)
  bool values_moved = false;    // the tags' values moved (the live table shows them)
  uint64_t values_version = 0;  // the values' version now: frames of new values follow its moves
};

// The engine takes changes every third second: a pause this long holds a take.
inline constexpr auto kSettle = std::chrono::seconds(5);

// Reads the line's totals, and its stations when a failure must be followed (a failed frame
// since the last reading, or a station failing: every call, for exact failure runs), or when
// `details_due` and since the last reading its frames moved (all of them when
// `wants.every_frame`, else only while they may carry new values, and once when the line
// pauses after frames that repeated values) or `wants.values_moved`.
// Reading thousands of stations by name only when something is wanted keeps an idle runner
// idle.
void WatchLine(const DriverModule& driver, RunLine* line, bool details_due, const WatchWants& wants,
               const LineWatch::Read& read);

// Stops every running line at once, so that many lines take no longer than one, waiting at most
// `wait` in all. The lines that returned in time are kStopped; false when some did not (they
// stay kRunning, and their driver's thread still runs).
bool StopLines(const DriverModule& driver, std::vector<RunLine>* lines,
               std::chrono::milliseconds wait);

}  // namespace veldrane::host
