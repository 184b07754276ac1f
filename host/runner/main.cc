// veldrane-host: the reference host runner. Loads Veldrane.so by path exactly as a host does
// (dlopen, DrvFuncTable), with the reference host modules, and drives its life cycle.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

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
#include "host/runner/port_probe.h"
#include "host/runner/simulator.h"
#include "host/runner/station_list.h"
#include "host/runner/station_table.h"
#include "host/runner/stop_signals.h"
#include "host/runner/value_lines.h"
#include "host/runner/value_reader.h"
#include "platform/display_text.h"
#include "tarko/tagval.h"

namespace {

using veldrane::host::DriverModule;
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
void Complain(const std::string& text) {
  PrintLines(stderr, Priority::kError, "veldrane-host: " + text);
}

void Usage(std::FILE* out) {
  std::fprintf(
      out,
      "Usage: veldrane-host [OPTIONS] COMMAND [CONFIG]\n"
      "\n"
      "The reference host: loads the Veldrane driver as a host does and drives it.\n"
      "\n"
      "Commands:\n"
      "  run CONFIG        open CONFIG, open its port, resolve and subscribe its tags, and send\n"
      "                    values to the meters until Ctrl-C, SIGTERM, SIGHUP or --seconds;\n"
      "                    then stop, unload and print the statistics (a second Ctrl-C ends\n"
      "                    at once)\n"
      "  configure CONFIG  open the configuration window on CONFIG (a new file when it does not\n"
      "                    exist); exit status 0 when it was saved, 1 when not (also when no\n"
      "                    window could open: the reason is printed), 7 when this\n"
      "                    installation has no configuration window\n"
      "  version           print the driver's version and name\n"
      "\n"
      "Options for run:\n"
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
      "/etc/veldrane/ports/com3. 'veldrane-cfg ports' lists the serial devices.\n"
      "\n"
      "Exit status: 0 success, 1 configuration not saved, 2 usage (also a --values or --log file\n"
      "that cannot be opened), 3 configuration not opened, 4 port not opened, 5 driver not\n"
      "loaded, 6 the driver did not stop within 1.2 s (the statistics are those before the\n"
      "stop), 7 no configuration window.\n",
      veldrane::host::kMqttUsage);
}

struct Options {
  std::string command;
  std::string config;
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
    if (lines_.size() > 8) lines_.pop_front();
  }
  std::deque<std::string> Recent() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }

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
  }
  bool Get(const std::string& tag, double* value) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = values_.find(tag);
    if (it == values_.end()) return false;
    *value = it->second;
    return true;
  }

 private:
  std::mutex mutex_;
  std::map<std::string, double> values_;
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

std::string StationTable(const DriverModule& driver, int32_t index,
                         const std::vector<StationRow>& stations) {
  return veldrane::host::FormatStationTable(
      stations, [&](const StationRow& s) { return StatusOf(driver, index, s); });
}

// Stops the driver, waiting at most kStopWait: false when it has not returned by then (the
// process must then end without unloading it).
bool StopWithin(const DriverModule& driver, int32_t index) {
  auto done = std::make_shared<std::promise<void>>();
  std::future<void> stopped = done->get_future();
  std::thread([&driver, index, done] {
    driver.Stop(index);
    done->set_value();
  }).detach();
  return stopped.wait_for(kStopWait) == std::future_status::ready;
}

int Run(const Options& options) {
  // What cannot be opened is refused before anything starts.
  std::string error;
  if (!options.values.empty() && !veldrane::host::CheckValueSource(options.values, &error)) {
    Complain("--values: " + error);
    return kUsage;
  }
  if (!options.log.empty() && EventLogOpenFile(options.log.c_str()) != 0) {
    Complain("--log: cannot open " + options.log + ": " + std::strerror(errno));
    return kUsage;
  }

  std::vector<StationRow> stations;
  bool have_stations = veldrane::host::ReadStations(options.config, &stations, &error);

  // Every tag the configuration links exists in the tag database, with value 0 until one
  // arrives, so that it resolves.
  std::vector<veldrane::host::SimulatedTag> tags;
  for (const StationRow& s : stations) {
    if (s.tag.empty()) continue;
    bool known = TagDbFind(s.tag.c_str()) >= 0;
    TagDbDefine(s.tag.c_str(), kTagTypeAnalog);
    if (!known) {
      tags.push_back({s.tag, s.kind, s.decimals});
      g_values.Set(s.tag, 0);
    }
  }

  bool live = !options.quiet && !options.plain && isatty(1);
  g_events.SetEcho(!live);
  EventLogSetListener(&OnEventLine, nullptr);

  DriverModule driver;
  if (!driver.Load(options.driver, &error)) {
    Complain(error);
    return kNoDriver;
  }
  int32_t index = driver.Open(options.config.c_str());
  if (index < 0) {
    Complain("the driver could not open " + options.config);
    if (!have_stations) Complain(error);
    return kFileNotOpened;
  }
  if (!have_stations) Complain(error);
  int32_t port = driver.OpenPort(index);
  if (port != 0) {
    Complain(veldrane::host::ExplainPortFailure(options.config));
    driver.Unload();
    return kPortNotOpened;
  }
  driver.ResolveTags(index);
  driver.SetActive(index, nullptr, 1);

  const std::atomic<bool>& stop = veldrane::host::StopRequested();
  veldrane::host::StopCleanlyOnSignal();
  std::thread reader;
  if (!options.values.empty()) {
    reader = std::thread([&] { veldrane::host::ReadValueFile(options.values, stop, ApplyValue); });
  }
  int status = kOk;
  std::unique_ptr<veldrane::host::MqttGateway> mqtt;
  if (options.mqtt.enabled()) {
    veldrane::host::StatusLine line{
        veldrane::host::LineName(options.config), stations,
        [&](const StationRow& s) { return StatusOf(driver, index, s); }};
    mqtt = std::make_unique<veldrane::host::MqttGateway>(
        options.mqtt, std::vector<veldrane::host::StatusLine>{std::move(line)},
        [](const std::string& tag, double v) { ApplyValue(tag, v); },
        [](const std::string& text) {
          PrintLines(stderr, Priority::kWarning, "veldrane-host: " + text);
        });
    if (!mqtt->Start(&error)) {
      // Options the client refuses (say, a name that is not UTF-8): as a usage error.
      Complain(error);
      veldrane::host::RequestStop();
      status = kUsage;
    }
  }

  veldrane::host::Simulator simulator(tags);
  auto start = std::chrono::steady_clock::now();
  auto next_value = start;
  auto next_draw = start;
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
    if (live && now >= next_draw) {
      std::string screen = "\x1b[H\x1b[2J";
      char head[256];
      std::snprintf(head, sizeof head, "Veldrane host runner  %s  %.0f s  (Ctrl-C stops)\n\n",
                    veldrane::platform::DisplayInput(options.config).c_str(), elapsed);
      screen += head + StationTable(driver, index, stations) + "\nEvent log:\n";
      for (const std::string& l : g_events.Recent()) screen += "  " + l + "\n";
      std::fputs(screen.c_str(), stdout);
      std::fflush(stdout);
      next_draw += std::chrono::milliseconds(500);
    }
    if (mqtt) mqtt->Poll(now);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }

  veldrane::host::RequestStop();
  if (mqtt) mqtt->Stop();
  g_events.SetEcho(true);
  // The counts before the stop, in case the driver does not return from it in time.
  std::string table = StationTable(driver, index, stations);
  int32_t sent = 0, failed = 0, third = 0, fourth = 0;
  driver.GetStats(index, nullptr, &sent, &failed, &third, &fourth);
  bool stopped = StopWithin(driver, index);
  if (reader.joinable()) reader.join();
  if (stopped) {
    table = StationTable(driver, index, stations);
    driver.GetStats(index, nullptr, &sent, &failed, &third, &fourth);
  }
  PrintLines(stdout, Priority::kInfo,
             "\nStatistics:\n" + table + "total: " + std::to_string(sent) + " frames sent, " +
                 std::to_string(failed) + " failed");
  if (!stopped) {
    char said[160];
    std::snprintf(said, sizeof said,
                  "the driver did not stop within %.1f s; ending without it (the statistics are "
                  "those before the stop)",
                  std::chrono::duration<double>(kStopWait).count());
    Complain(said);
    // The driver's thread still runs in this process: nothing may be unloaded or destroyed.
    std::_Exit(kDriverDidNotStop);
  }
  driver.Unload();
  EventLogSetListener(nullptr, nullptr);
  return status;
}

int Version(const Options& options) {
  DriverModule driver;
  std::string error;
  if (!driver.Load(options.driver, &error)) {
    Complain(error);
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
    Complain(error);
    return kUsage;
  }
  std::vector<StationRow> stations;
  veldrane::host::ReadStations(options.config, &stations, &error);
  for (const StationRow& s : stations) tags.push_back(s.tag);
  for (const std::string& tag : tags) {
    if (!tag.empty()) TagDbDefine(tag.c_str(), kTagTypeAnalog);
  }

  DriverModule driver;
  if (!driver.Load(options.driver, &error)) {
    Complain(error);
    return kNoDriver;
  }
  int32_t saved = driver.Configure(options.config.c_str());
  if (saved) {
    std::printf("DrvConfigure(%s) = 1: the configuration was saved\n", options.config.c_str());
    return kOk;
  }
  std::printf("DrvConfigure(%s) = 0: nothing was saved\n", options.config.c_str());
  if (!veldrane::host::HasConfigWindow(options.driver)) {
    std::fprintf(stderr,
                 "veldrane-host: this installation has no configuration window; edit "
                 "configurations with veldrane-cfg\n");
    return kNoWindow;
  }
  return kNotSaved;
}

bool ParseSeconds(const char* text, double* seconds) {
  char* end = nullptr;
  double v = std::strtod(text, &end);
  if (end == text || *end != '\0' || !(v >= 0) || !std::isfinite(v)) return false;
  *seconds = v;
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
        Complain(std::string(name) + " needs a value");
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
        Complain(std::string("--seconds takes a number of seconds, not '") + v + "'");
        return kUsage;
      }
    } else if (arg == "--tags") {
      options.tags = need_value("--tags");
    } else if (arg == "--log") {
      options.log = need_value("--log");
    } else if (veldrane::host::IsMqttOption(arg)) {
      std::string error;
      if (!veldrane::host::SetMqttOption(arg, need_value(arg.c_str()), &options.mqtt, &error)) {
        Complain(error);
        return kUsage;
      }
    } else if (arg == "--quiet") {
      options.quiet = true;
    } else if (arg == "--plain") {
      options.plain = true;
    } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
      Complain("unknown option '" + arg + "'");
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
  bool needs_config = options.command == "run" || options.command == "configure";
  if (needs_config != (positional.size() == 2) || positional.size() > 2) {
    Complain("'" + options.command + "' " +
             (needs_config ? "needs one CONFIG file" : "takes no file"));
    Usage(stderr);
    return kUsage;
  }
  if (needs_config) options.config = positional[1];
  std::string mqtt_error;
  if (!veldrane::host::FinishMqttOptions(&options.mqtt, &mqtt_error)) {
    Complain(mqtt_error);
    return kUsage;
  }

  veldrane::host::InstallStopSignals();
  signal(SIGPIPE, SIG_IGN);

  if (options.command == "run") return Run(options);
  if (options.command == "configure") return Configure(options);
  if (options.command == "version") return Version(options);
  Complain("unknown command '" + options.command + "'");
  Usage(stderr);
  return kUsage;
}
