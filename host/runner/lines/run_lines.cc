#include "host/runner/lines/run_lines.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "host/runner/lines/port_probe.h"
#include "platform/files/path.h"
#include "platform/serial/port_map.h"
#include "platform/serial/serial_explain.h"
#include "platform/text/display_text.h"

namespace veldrane::host {
namespace {

// How long the start waits for a device server's name, for comparing it with the others.
constexpr int kResolveMs = 1000;

// What a port leads to: the endpoints of the device server its port-map entry names (one
// server may be written in several ways), else the device the entry names in the end, else
// where the entry points (an unplugged adapter's path, or whatever a link names that is no
// file).
std::vector<std::string> PortTargets(const std::string& port) {
  std::string path = platform::ComDevicePath(port.c_str());
  if (path.empty()) return {port};
  std::vector<std::string> endpoints = platform::DeviceServerEndpoints(path, kResolveMs);
  return endpoints.empty() ? std::vector<std::string>{platform::FinalTarget(path)} : endpoints;
}

// One of the places both lead to, or empty.
std::string Common(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  for (const std::string& place : a) {
    if (std::find(b.begin(), b.end(), place) != b.end()) return place;
  }
  return {};
}

// The line's port lock; false, with the line not opened, when another process drives the port.
bool TakePortLock(RunLine* line, const std::function<void(const std::string&)>& say) {
  std::string text;
  const std::string where =
      platform::DisplayInput(line->config) + ": " + platform::DisplayInput(line->port);
  switch (LockPort(line->port, &line->port_lock, &text)) {
    case PortLock::Outcome::kBusy:
      line->state = LineState::kPortNotOpened;
      say(where + ": busy: another program holds the port: " + platform::DisplayInput(text) +
          "; stop it first");
      return false;
    case PortLock::Outcome::kNoLock:
      say(where + ": " + platform::DisplayInput(text) +
          "; the line runs, but a second runner on its port is not refused");
      return true;
    default:
      return true;
  }
}

}  // namespace

std::string RunLine::Title() const {
  std::string title = platform::DisplayInput(config);
  return port.empty() ? title : title + " (" + port + ")";
}

std::string NotRunningNote(const RunLine& line) {
  switch (line.state) {
    case LineState::kConfigNotOpened:
      return "not run: the configuration could not be opened";
    case LineState::kPortNotOpened:
      return "not run: the port did not open";
    default:
      return "not run";
  }
}

bool ReadLines(const std::vector<std::string>& configs, std::vector<RunLine>* lines,
               std::string* error) {
  lines->clear();
  std::vector<std::vector<std::string>> targets;
  for (const std::string& config : configs) {
    RunLine line;
    line.config = config;
    ReadStations(config, &line.stations, &line.read_error, &line.port, &line.rts_cts);
    for (const RunLine& other : *lines) {
      if (platform::SameFile(other.config, config)) {
        *error = other.Title() + " and " + line.Title() +
                 " are the same configuration: give each line once";
        return false;
      }
    }
    std::vector<std::string> target;
    if (!line.port.empty()) target = PortTargets(line.port);
    for (size_t i = 0; i < lines->size() && !target.empty(); ++i) {
      const RunLine& other = (*lines)[i];
      int number = platform::ComPortNumber(line.port.c_str());
      if (number != 0 && number == platform::ComPortNumber(other.port.c_str())) {
        *error = other.Title() + " and " + line.Title() + " name the same port: each line " +
                 "needs its own";
        return false;
      }
      if (const std::string common = Common(targets[i], target); !common.empty()) {
        *error = other.Title() + " and " + line.Title() + " both lead to " +
                 platform::DisplayInput(common) + ": each line needs its own port";
        return false;
      }
    }
    targets.push_back(target);
    lines->push_back(std::move(line));
  }
  return true;
}

void StartLine(const DriverModule& driver, RunLine* line,
               const std::function<void(const std::string&)>& say) {
  line->index = driver.Open(line->config.c_str());
  if (line->index < 0) {
    line->state = LineState::kConfigNotOpened;
    say("the driver could not open " + platform::DisplayInput(line->config) +
        (line->read_error.empty() ? "" : ": " + line->read_error));
    return;
  }
  if (!line->read_error.empty()) say(line->read_error);
  if (!TakePortLock(line, say)) return;
  if (driver.OpenPort(line->index) != 0) {
    line->state = LineState::kPortNotOpened;
    line->port_lock.Release();
    say(platform::DisplayInput(line->config) + ": " + ExplainPortFailure(line->config));
    return;
  }
  // A port that cannot carry the handshake: said at once, and kept on the live table.
  if (line->rts_cts) line->port_problem = platform::ExplainHandshakeProblem(line->port);
  if (!line->port_problem.empty())
    say(platform::DisplayInput(line->config) + ": " + line->port_problem);
  driver.ResolveTags(line->index);
  driver.SetActive(line->index, nullptr, 1);
  line->state = LineState::kRunning;
  line->watch = std::make_unique<LineWatch>(line->stations);
}

void WatchLine(const DriverModule& driver, RunLine* line, bool details_due, const WatchWants& wants,
               const LineWatch::Read& read) {
  if (!line->watch || line->index < 0) return;
  int32_t sent = 0, failed = 0, third = 0, fourth = 0;
  int32_t result = driver.GetStats(line->index, nullptr, &sent, &failed, &third, &fourth);
  auto now = std::chrono::steady_clock::now();
  if (sent != line->frames_seen || wants.values_version != line->version_at_pause) {
    line->frames_seen = sent;
    line->pause_since = now;
    line->version_at_pause = wants.values_version;
  }
  bool paused = now - line->pause_since >= kSettle;
  if (paused) line->settled_version = line->version_at_pause;
  bool news = wants.values_version != line->settled_version;
  // A station's state moves only with a frame to it; a failing one shows in the totals. Frames
  // that repeat values are read once the line pauses, so that the counts are known when the
  // next value comes.
  bool failures = result == 1 || result != line->result || failed != line->failed;
  bool moved = (sent != line->sent && (wants.every_frame || news || paused)) || wants.values_moved;
  if (!failures && !(details_due && moved)) return;
  line->sent = sent;
  line->failed = failed;
  line->result = result;
  line->watch->Update(read);
}

bool StopLines(const DriverModule& driver, std::vector<RunLine>* lines,
               std::chrono::milliseconds wait) {
  struct Shared {
    std::mutex mutex;
    std::condition_variable done;
    std::vector<bool> stopped;
  };
  auto shared = std::make_shared<Shared>();
  shared->stopped.assign(lines->size(), false);
  size_t stopping = 0;
  for (size_t i = 0; i < lines->size(); ++i) {
    if (!(*lines)[i].running()) continue;
    ++stopping;
    int32_t index = (*lines)[i].index;
    // Detached: a driver that never returns keeps its thread, and the process ends without it.
    std::thread([&driver, index, i, shared] {
      driver.Stop(index);
      std::lock_guard<std::mutex> lock(shared->mutex);
      shared->stopped[i] = true;
      shared->done.notify_all();
    }).detach();
  }
  std::unique_lock<std::mutex> lock(shared->mutex);
  auto all = [&] {
    size_t n = 0;
    for (bool s : shared->stopped) n += s ? 1 : 0;
    return n == stopping;
  };
  bool in_time = shared->done.wait_for(lock, wait, all);
  for (size_t i = 0; i < lines->size(); ++i) {
    if (shared->stopped[i]) (*lines)[i].state = LineState::kStopped;
  }
  return in_time;
}

}  // namespace veldrane::host
