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
#include "host/runner/line_watch.h"
#include "host/runner/station_list.h"

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
  // The line's totals (DrvGetStats without a station) at the last reading of its stations.
  int32_t sent = 0, failed = 0, result = -2;

  // The configuration and its port, escaped for the terminal: "hall2/line1.cfg (COM3)".
  std::string Title() const;
  bool running() const { return state == LineState::kRunning; }
};

// Reads every configuration's stations and port. False with a message when two of them are the
// same file, or name the same port, or ports whose port-map entries lead to the same device or
// to the same device server however written (its name or address, a link or a file): each line
// needs its own.
bool ReadLines(const std::vector<std::string>& configs, std::vector<RunLine>* lines,
               std::string* error);

// DrvOpen, DrvOpenPort, DrvResolveTags and DrvSetActive for one line; `say` tells the user why
// a line does not run. Leaves the line in kConfigNotOpened, kPortNotOpened or kRunning.
void StartLine(const DriverModule& driver, RunLine* line,
               const std::function<void(const std::string&)>& say);

// Reads the line's totals, and its stations when a failure must be followed (a failed frame
// since the last reading, or a station failing: every call, for exact failure runs), or when
// `details_due` and its frames or `values_moved` since the last reading. Reading thousands of
// stations by name only when something is wanted keeps an idle runner idle.
void WatchLine(const DriverModule& driver, RunLine* line, bool details_due, bool values_moved,
               const LineWatch::Read& read);

// Stops every running line at once, so that many lines take no longer than one, waiting at most
// `wait` in all. The lines that returned in time are kStopped; false when some did not (they
// stay kRunning, and their driver's thread still runs).
bool StopLines(const DriverModule& driver, std::vector<RunLine>* lines,
               std::chrono::milliseconds wait);

}  // namespace veldrane::host
