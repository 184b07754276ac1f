// veldrane-host: the reference host runner. Loads the driver module by path exactly as a host
// does (dlopen or LoadLibrary, DrvFuncTable), with the reference host modules, and drives its
// life cycle.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/dbm/tag_db_api.h"
#include "host/loader/driver_module.h"
#include "host/rt/event_log_api.h"
#include "host/runner/configure_support.h"
#include "host/runner/console_lines.h"
#include "host/runner/mqtt_gateway.h"
#include "host/runner/mqtt_topics.h"
#include "host/runner/run_lines.h"
#include "host/runner/simulator.h"
#include "host/runner/station_list.h"
#include "host/runner/station_table.h"
#include "host/runner/stop_signals.h"
#include "host/runner/value_lines.h"
#include "host/runner/value_reader.h"
#include "platform/console.h"
#include "platform/display_text.h"
#include "tarko/tagval.h"

namespace {

using veldrane::host::DriverModule;
using veldrane::host::LineState;
using veldrane::host::RunLine;
using veldrane::host::StationRow;

enum ExitCode {
  kOk = 0,
  kNotSaved = 1,
  kUsage = 2,
  kFileNotOpened = 3,
  kPortNotOpened = 4,
  kNoDriver = 5,
  kDriverDidNotStop = 6,
  kNoWindow = 7,
};

// How long the runner waits for the driver to stop before it ends without it, so that the
// process ends within two seconds of Ctrl-C whatever the line does.
constexpr auto kStopWait = std::chrono::milliseconds(1200);

using veldrane::host::PrintLines;
using veldrane::host::Priority;

// An error on standard error, as the journal files errors when it is the journal.
// The runner's own messages, on standard error after what standard output holds; errors to the
// journal.
void Say(const std::string& text) {
  PrintLines(stderr, Priority::kError, "veldrane-host: " + text);
}

void Usage(std::FILE* out) {
  std::fprintf(
      out,
      "Usage: veldrane-host [OPTIONS] COMMAND [CONFIG...]\n"
      "\n"
      "The reference host: loads the Veldrane driver as a host does and drives it.\n"
      "\n"
      "Commands:\n"
      "  run CONFIG...     open each CONFIG (one line of meters each, on a port of its own) and\n"
      "                    its port, resolve and subscribe its tags, and send values to the\n"
      "                    meters until Ctrl-C, SIGTERM, SIGHUP or --seconds; then stop every "
      "line,\n"
      "                    unload and print each line's statistics (a second Ctrl-C ends at\n"
      "                    once). A line whose configuration or port does not open is left out\n"
      "                    while the others run\n"
      "  configure CONFIG  open the configuration window on CONFIG (a new file when it does not\n"
      "                    exist); exit status 0 when it was saved, 1 when not (also when no\n"
      "                    window could open: the reason is printed), 7 when this\n"
      "                    installation has no configuration window\n"
      "  version           print the driver's version and name\n"
      "\n"
      "Options for run (for every line):\n"
      "  --simulate        give every linked tag a moving value\n"
      "  --values FILE     read 'TAG VALUE' lines from FILE ('-' for standard input, or a FIFO\n"
      "                    that scripts write to at any time); bad lines are reported and skipped\n"
      "  --seconds N       stop after N seconds (default: run until Ctrl-C)\n"
      "  --log FILE        append the event log to FILE (raw code page 949 lines)\n"
      "  --quiet           no live table; only the event log and the final statistics\n"
      "  --plain           plain lines even on a terminal\n"
      "%s"
      "\n"
      "Options for configure:\n"
      "  --tags FILE       tag names (one a line) that the tag browser offers, beside the tags\n"
      "                    that CONFIG links\n"
      "\n"
      "Other options:\n"
      "  --driver PATH     the driver module (default: Veldrane.so in this installation's library\n"
      "                    folder, as 'veldrane-host version' shows)\n"
      "  -h, --help        this help\n"
      "\n"
      "COM ports are mapped to devices by the entries comN of the port-map directories\n"
      "(/etc/veldrane/ports, then /dev/veldrane; or $VELDRANE_PORTS): e.g. ln -s /dev/ttyUSB0\n"
      "/etc/veldrane/ports/com3. An entry may name a device server's port instead: a link to, or "
      "a\n"
      "file holding, tcp://HOST:PORT or rfc2217://HOST:PORT. 'veldrane-cfg ports' lists the\n"
      "serial devices.\n"
      "\n"
      "Exit status: 0 success, 1 configuration not saved, 2 usage (also a --values or --log file\n"
      "that cannot be opened, and a configuration or port given for two lines), 3 a configuration\n"
      "not opened, 4 a port not opened (3 or 4 also when the other lines ran: 3 when a\n"
      "configuration failed, else 4), 5 driver not loaded, 6 the driver did not stop a line\n"
      "within 1.2 s (the statistics are those before the stop), 7 no configuration window.\n",
      veldrane::host::kMqttUsage);
}

struct Options {
  std::string command;
  std::vector<std::string> configs;
  std::string driver = veldrane::host::DefaultDriverPath();
  bool simulate = false;
  std::string values;
  double seconds = -1;
  std::string log;
  std::string tags;
  bool quiet = false;
  bool plain = false;
  veldrane::host::MqttOptions mqtt;
};

// Event-log lines as UTF-8, kept for the live table and printed in plain mode.
class EventLines {
 public:
  // Set while the driver's thread may be adding lines.
  void SetEcho(bool echo) { echo_.store(echo); }
  void Add(int32_t level_word, const char* line) {
    static const char* kLevels[] = {"setup", "fail ", "state"};
    int level = level_word & 0xFF;
    std::string text = std::string(level <= 2 ? kLevels[level] : "?") + "  " +
                       veldrane::platform::DisplayCp949(line);
    // The journal stamps each line itself.
    if (!veldrane::host::OutputToJournal()) text = Stamp() + " " + text;
    std::lock_guard<std::mutex> lock(mutex_);
    if (echo_) PrintLines(stdout, veldrane::host::EventPriority(level, line), text);
    lines_.push_back(std::move(text));
    if (lines_.size() > kKept) lines_.pop_front();
  }
  std::deque<std::string> Recent() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }
  static constexpr size_t kKept = 8;

 private:
  static std::string Stamp() {
    char stamp[16];
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    std::strftime(stamp, sizeof stamp, "%H:%M:%S", &tm);
    return stamp;
  }

  std::mutex mutex_;
  std::deque<std::string> lines_;
  std::atomic<bool> echo_{true};
};

EventLines g_events;

void OnEventLine(int32_t, int32_t level_word, const char* line, void*) {
  g_events.Add(level_word, line);
}

// The last value the runner gave each tag.
class LastValues {
 public:
  void Set(const std::string& tag, double value) {
    std::lock_guard<std::mutex> lock(mutex_);
    values_[tag] = value;
    version_.fetch_add(1);
  }
  bool Get(const std::string& tag, double* value) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = values_.find(tag);
    if (it == values_.end()) return false;
    *value = it->second;
    return true;
  }
  // Moves with every Set: the stations' values need reading again only when it moved.
  uint64_t version() const { return version_.load(); }

 private:
  std::mutex mutex_;
  std::map<std::string, double> values_;
  std::atomic<uint64_t> version_{0};
};

LastValues g_values;

void SetTag(const std::string& tag, double value) {
  if (TagDbSet(tag.c_str(), value, kTagTypeAnalog) == 0) g_values.Set(tag, value);
}

// Values from a file and from the broker: false for a tag no station shows.
bool ApplyValue(const std::string& tag, double value) {
  if (TagDbFind(tag.c_str()) < 0) return false;
  SetTag(tag, value);
  return true;
}

// A station's statistics through the entry table, and its tag's last value.
veldrane::host::StationStatus StatusOf(const DriverModule& driver, int32_t index,
                                       const StationRow& s) {
  veldrane::host::StationStatus st;
  int32_t third = 0, fourth = 0;
  st.result = driver.GetStats(index, s.name.c_str(), &st.sent, &st.failed, &third, &fourth);
  st.has_value = !s.tag.empty() && g_values.Get(s.tag, &st.value);
  return st;
}

// Why a line does not run, for the live table and the statistics.
std::string NotRunning(const RunLine& line) {
  switch (line.state) {
    case LineState::kConfigNotOpened:
      return "not run: the configuration could not be opened";
    case LineState::kPortNotOpened:
      return "not run: the port did not open";
    default:
      return "not run";
  }
}

// The live screen: the lines with their stations as far as the terminal holds them, then the
// latest event-log lines.
void DrawLive(const std::vector<RunLine>& lines, double elapsed) {
  std::string screen = "\x1b[H\x1b[2J";
  char head[256];
  std::string what = lines.size() == 1 ? lines[0].Title() : std::to_string(lines.size()) + " lines";
  std::snprintf(head, sizeof head, "Veldrane host runner  %s  %.0f s  (Ctrl-C stops)\n\n",
                what.c_str(), elapsed);
  screen += head;
  // A port that cannot carry the handshake stays in sight above the table.
  for (const RunLine& line : lines) {
    if (!line.port_problem.empty()) screen += line.port_problem + "\n\n";
  }
  std::vector<veldrane::host::LiveLine> live;
  for (const RunLine& line : lines) {
    live.push_back({line.Title(), line.watch.get(), line.watch ? "" : NotRunning(line)});
  }
  // Beside the table: the title, two blank lines, and the event log with its heading.
  constexpr size_t kOther = 4 + EventLines::kKept;
  size_t rows = veldrane::platform::TerminalRows();
  screen += veldrane::host::FormatLiveLines(live, rows > kOther + 3 ? rows - kOther : 3);
  screen += "\nEvent log:\n";
  for (const std::string& l : g_events.Recent()) screen += "  " + l + "\n";
  std::fputs(screen.c_str(), stdout);
  std::fflush(stdout);
}

// Each line's table and totals at the end, and the sum of all with several lines.
void PrintStatistics(const std::vector<RunLine>& lines) {
  std::string text = "\nStatistics:\n";
  long long all_sent = 0, all_failed = 0;
  for (const RunLine& line : lines) {
    if (lines.size() > 1 && !line.watch) {
      text += line.Title() + ": " + NotRunning(line) + "\n";
      continue;
    }
    if (lines.size() > 1) text += line.Title() + ":\n";
    text += veldrane::host::FormatStationTable(*line.watch);
    text += "total: " + std::to_string(line.sent) + " frames sent, " + std::to_string(line.failed) +
            " failed\n";
    all_sent += line.sent;
    all_failed += line.failed;
  }
  if (lines.size() > 1) {
    text += "all lines: " + std::to_string(all_sent) + " frames sent, " +
            std::to_string(all_failed) + " failed\n";
  }
  PrintLines(stdout, Priority::kInfo, text);
}

// With the broker, each line publishes under its name: two lines of one name would mix.
bool CheckMqttLineNames(const std::vector<RunLine>& lines, std::string* error) {
  std::map<std::string, const RunLine*> names;
  for (const RunLine& line : lines) {
    std::string name = veldrane::host::LineName(line.config);
    auto [at, added] = names.emplace(name, &line);
    if (added) continue;
    *error = "--mqtt: " + at->second->Title() + " and " + line.Title() +
             " would publish their stations' states under the same line name '" +
             veldrane::platform::DisplayInput(name) + "': rename one of them";
    return false;
  }
  return true;
}

// The lines' states for the broker, read through the runner's watch of each running line.
std::unique_ptr<veldrane::host::MqttGateway> NewGateway(const veldrane::host::MqttOptions& options,
                                                        const std::vector<RunLine>& lines) {
  std::vector<veldrane::host::StatusLine> status;
  for (const RunLine& line : lines) {
    if (!line.watch) continue;
    veldrane::host::StatusLine s;
    s.name = veldrane::host::LineName(line.config);
    s.stations = line.stations;
    s.watch = line.watch.get();
    status.push_back(std::move(s));
  }
  return std::make_unique<veldrane::host::MqttGateway>(
      options, std::move(status), [](const std::string& tag, double v) { ApplyValue(tag, v); },
      [](const std::string& text) {
        PrintLines(stderr, Priority::kWarning, "veldrane-host: " + text);
      });
}

int Run(const Options& options) {
  // What cannot be opened is refused before anything starts.
  std::string error;
  if (!options.values.empty() && !veldrane::host::CheckValueSource(options.values, &error)) {
    Say("--values: " + error);
    return kUsage;
  }
  std::vector<RunLine> lines;
  if (!veldrane::host::ReadLines(options.configs, &lines, &error) ||
      (options.mqtt.enabled() && !CheckMqttLineNames(lines, &error))) {
    Say(error);
    return kUsage;
  }
  if (!options.log.empty() && EventLogOpenFile(options.log.c_str()) != 0) {
    Say("--log: cannot open " + options.log + ": " + std::strerror(errno));
    return kUsage;
  }

  // Every tag the configurations link exists in the tag database, with value 0 until one
  // arrives, so that it resolves.
  std::vector<veldrane::host::SimulatedTag> tags;
  for (const RunLine& line : lines) {
    for (const StationRow& s : line.stations) {
      if (s.tag.empty()) continue;
      bool known = TagDbFind(s.tag.c_str()) >= 0;
      TagDbDefine(s.tag.c_str(), kTagTypeAnalog);
      if (!known) {
        tags.push_back({s.tag, s.kind, s.decimals});
        g_values.Set(s.tag, 0);
      }
    }
  }

  bool live = !options.quiet && !options.plain && veldrane::platform::PrepareLiveView();
  g_events.SetEcho(!live);
  EventLogSetListener(&OnEventLine, nullptr);

  DriverModule driver;
  if (!driver.Load(options.driver, &error)) {
    Say(error);
    return kNoDriver;
  }
  // Each line on its own: one that does not open is left out while the others run.
  int open_status = kOk;
  size_t running = 0;
  for (RunLine& line : lines) {
    veldrane::host::StartLine(driver, &line, Say);
    if (line.running()) ++running;
    if (line.state == LineState::kConfigNotOpened) open_status = kFileNotOpened;
    if (line.state == LineState::kPortNotOpened && open_status == kOk) {
      open_status = kPortNotOpened;
    }
  }
  if (running == 0) {
    driver.Unload();
    return open_status;
  }
  if (running < lines.size()) {
    Say(std::to_string(running) + " of " + std::to_string(lines.size()) +
        " lines run; the others are left out (see above)");
  }

  const std::atomic<bool>& stop = veldrane::host::StopRequested();
  veldrane::host::StopCleanlyOnSignal();
  std::thread reader;
  if (!options.values.empty()) {
    reader = std::thread([&] { veldrane::host::ReadValueFile(options.values, stop, ApplyValue); });
  }
  int status = kOk;
  std::unique_ptr<veldrane::host::MqttGateway> mqtt;
  if (options.mqtt.enabled()) {
    mqtt = NewGateway(options.mqtt, lines);
    if (!mqtt->Start(&error)) {
      // Options the client refuses (say, a name that is not UTF-8): as a usage error.
      Say(error);
      veldrane::host::RequestStop();
      status = kUsage;
    }
  }

  auto watch_line = [&](RunLine& line, bool details_due, bool values_moved) {
    veldrane::host::WatchLine(driver, &line, details_due, values_moved,
                              [&](const StationRow& s) { return StatusOf(driver, line.index, s); });
  };
  auto watch = [&](bool details_due, bool values_moved) {
    for (RunLine& line : lines) watch_line(line, details_due, values_moved);
  };
  veldrane::host::Simulator simulator(tags);
  auto start = std::chrono::steady_clock::now();
  auto next_value = start;
  auto next_watch = start;
  auto next_details = start;
  auto next_draw = start;
  // How often the stations' counts and values are wanted: for the live table as often as it
  // is drawn; for the broker once a second, as often as a station's state may go out.
  const auto details_every = std::chrono::milliseconds(live ? 500 : 1000);
  uint64_t values_seen = ~uint64_t{0};
  while (!stop.load()) {
    auto now = std::chrono::steady_clock::now();
    double elapsed = std::chrono::duration<double>(now - start).count();
    if (options.seconds >= 0 && elapsed >= options.seconds) break;
    if (options.simulate && now >= next_value) {
      for (size_t i = 0; i < simulator.size(); ++i) {
        SetTag(simulator.tag(i).name, simulator.ValueAt(i, elapsed));
      }
      next_value += std::chrono::seconds(1);
    }
    // A quarter second keeps the failure runs exact: the engine sends a station at most once a
    // pass of half a second.
    if (now >= next_watch) {
      bool details_due = (live || mqtt) && now >= next_details;
      if (details_due) next_details = now + details_every;
      uint64_t version = g_values.version();
      watch(details_due, version != values_seen);
      if (details_due) values_seen = version;
      next_watch = now + std::chrono::milliseconds(250);
    }
    if (live && now >= next_draw) {
      DrawLive(lines, elapsed);
      next_draw += std::chrono::milliseconds(500);
    }
    if (mqtt) mqtt->Poll(now);
    // Asleep until the next thing is due, at most the quarter second of the watch: a runner of
    // many lines wakes as seldom as it can, and still sees a stop within a quarter second.
    auto next = next_watch;
    if (live) next = std::min(next, next_draw);
    if (options.simulate) next = std::min(next, next_value);
    if (options.seconds >= 0) {
      next = std::min(next, start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                        std::chrono::duration<double>(options.seconds)));
    }
    std::this_thread::sleep_until(next);
  }

  veldrane::host::RequestStop();
  if (mqtt) mqtt->Stop();
  g_events.SetEcho(true);
  // The counts before the stop, in case a line's driver does not return from it in time.
  watch(true, true);
  bool stopped = veldrane::host::StopLines(driver, &lines, kStopWait);
  if (reader.joinable()) reader.join();
  // The lines that stopped, as they ended.
  for (RunLine& line : lines) {
    if (line.state == LineState::kStopped) watch_line(line, true, true);
  }
  PrintStatistics(lines);
  if (!stopped) {
    for (const RunLine& line : lines) {
      if (line.running()) {
        char text[512];
        std::snprintf(text, sizeof text,
                      "the driver did not stop %s within %.1f s; ending without it (its "
                      "statistics are those before the stop)",
                      line.Title().c_str(), std::chrono::duration<double>(kStopWait).count());
        Say(text);
      }
    }
    // A driver's thread still runs in this process: nothing may be unloaded or destroyed.
    std::_Exit(kDriverDidNotStop);
  }
  driver.Unload();
  EventLogSetListener(nullptr, nullptr);
  return status != kOk ? status : open_status;
}

int Version(const Options& options) {
  DriverModule driver;
  std::string error;
  if (!driver.Load(options.driver, &error)) {
    Say(error);
    return kNoDriver;
  }
  int32_t version = driver.GetVersion();
  std::printf("driver   %s\n", options.driver.c_str());
  std::printf("name     %s\n", driver.GetName());
  std::printf("version  %d.%d (0x%08X)\n", version >> 16, version & 0xFFFF,
              static_cast<unsigned>(version));
  return kOk;
}

int Configure(const Options& options) {
  // The tag browser offers the tags of the tag database: those of --tags and those that the
  // configuration links.
  std::vector<std::string> tags;
  std::string error;
  if (!options.tags.empty() && !veldrane::host::ReadTagNames(options.tags, &tags, &error)) {
    Say(error);
    return kUsage;
  }
  std::vector<StationRow> stations;
  veldrane::host::ReadStations(options.configs[0], &stations, &error);
  for (const StationRow& s : stations) tags.push_back(s.tag);
  for (const std::string& tag : tags) {
    if (!tag.empty()) TagDbDefine(tag.c_str(), kTagTypeAnalog);
  }

  DriverModule driver;
  if (!driver.Load(options.driver, &error)) {
    Say(error);
    return kNoDriver;
  }
  const std::string& config = options.configs[0];
  int32_t saved = driver.Configure(config.c_str());
  if (saved) {
    std::printf("DrvConfigure(%s) = 1: the configuration was saved\n", config.c_str());
    return kOk;
  }
  std::printf("DrvConfigure(%s) = 0: nothing was saved\n", config.c_str());
  if (!veldrane::host::HasConfigWindow(options.driver)) {
    std::fprintf(stderr,
                 "veldrane-host: this installation has no configuration window; edit "
                 "configurations with veldrane-cfg\n");
    return kNoWindow;
  }
  return kNotSaved;
}

// A time longer than any run (a century; the clock's durations hold about 292 years), and
// infinity, mean no limit: the deadline is computed in the clock's durations, which such a
// number would overflow into the past.
bool ParseSeconds(const char* text, double* seconds) {
  constexpr double kNoLimitFrom = 100.0 * 366 * 24 * 3600;
  char* end = nullptr;
  double v = std::strtod(text, &end);
  if (end == text || *end != '\0' || !(v >= 0)) return false;
  *seconds = v >= kNoLimitFrom ? -1 : v;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  veldrane::host::InitConsoleLines();
  Options options;
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto need_value = [&](const char* name) -> const char* {
      if (i + 1 >= argc) {
        Say(std::string(name) + " needs a value");
        std::exit(kUsage);
      }
      return argv[++i];
    };
    if (arg == "-h" || arg == "--help") {
      Usage(stdout);
      return kOk;
    } else if (arg == "--driver") {
      options.driver = need_value("--driver");
    } else if (arg == "--simulate") {
      options.simulate = true;
    } else if (arg == "--values") {
      options.values = need_value("--values");
    } else if (arg == "--seconds") {
      const char* v = need_value("--seconds");
      if (!ParseSeconds(v, &options.seconds)) {
        Say(std::string("--seconds takes a number of seconds, not '") + v + "'");
        return kUsage;
      }
    } else if (arg == "--tags") {
      options.tags = need_value("--tags");
    } else if (arg == "--log") {
      options.log = need_value("--log");
    } else if (veldrane::host::IsMqttOption(arg)) {
      std::string error;
      if (!veldrane::host::SetMqttOption(arg, need_value(arg.c_str()), &options.mqtt, &error)) {
        Say(error);
        return kUsage;
      }
    } else if (arg == "--quiet") {
      options.quiet = true;
    } else if (arg == "--plain") {
      options.plain = true;
    } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
      Say("unknown option '" + arg + "'");
      Usage(stderr);
      return kUsage;
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.empty()) {
    Usage(stderr);
    return kUsage;
  }
  options.command = positional[0];
  options.configs.assign(positional.begin() + 1, positional.end());
  bool is_run = options.command == "run", is_configure = options.command == "configure";
  bool files_fit = is_run         ? !options.configs.empty()
                   : is_configure ? options.configs.size() == 1
                                  : options.configs.empty();
  if (!files_fit) {
    std::fprintf(stderr, "veldrane-host: '%s' %s\n", options.command.c_str(),
                 is_run         ? "needs one CONFIG file or more"
                 : is_configure ? "needs one CONFIG file"
                                : "takes no file");
    Usage(stderr);
    return kUsage;
  }
  std::string mqtt_error;
  if (!veldrane::host::FinishMqttOptions(&options.mqtt, &mqtt_error)) {
    Say(mqtt_error);
    return kUsage;
  }

  veldrane::host::InstallStopSignals();
  veldrane::platform::UseUtf8Output();

  if (options.command == "run") return Run(options);
  if (options.command == "configure") return Configure(options);
  if (options.command == "version") return Version(options);
  Say("unknown command '" + options.command + "'");
  Usage(stderr);
  return kUsage;
}
