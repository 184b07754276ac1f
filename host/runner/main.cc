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
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/dbm/tag_db_api.h"
#include "host/loader/driver_module.h"
#include "host/rt/event_log_api.h"
#include "host/runner/simulator.h"
#include "host/runner/station_list.h"
#include "host/runner/value_lines.h"
#include "platform/cp949.h"
#include "tarko/tagval.h"

namespace {

using veldrane::host::DriverModule;
using veldrane::host::StationRow;
using veldrane::platform::Cp949ToUtf8;

enum ExitCode { kOk = 0, kUsage = 2, kFileNotOpened = 3, kPortNotOpened = 4, kNoDriver = 5 };

void Usage(std::FILE* out) {
  std::fprintf(
      out,
      "Usage: veldrane-host [OPTIONS] COMMAND [CONFIG]\n"
      "\n"
      "The reference host: loads the Veldrane driver as a host does and drives it.\n"
      "\n"
      "Commands:\n"
      "  run CONFIG        open CONFIG, open its port, resolve and subscribe its tags, and send\n"
      "                    values to the meters until Ctrl-C or --seconds; then stop, unload\n"
      "                    and print the statistics\n"
      "  configure CONFIG  open the configuration window on CONFIG\n"
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
      "\n"
      "Other options:\n"
      "  --driver PATH     the driver module (default: ../lib/Veldrane.so beside this program)\n"
      "  -h, --help        this help\n"
      "\n"
      "COM ports are mapped to devices by the entries comN of the port-map directory\n"
      "(/etc/veldrane/ports, or $VELDRANE_PORTS): e.g. ln -s /dev/ttyUSB0 "
      "/etc/veldrane/ports/com3.\n"
      "\n"
      "Exit status: 0 success, 2 usage, 3 configuration not opened, 4 port not opened,\n"
      "5 driver not loaded.\n");
}

struct Options {
  std::string command;
  std::string config;
  std::string driver = veldrane::host::DefaultDriverPath();
  bool simulate = false;
  std::string values;
  double seconds = -1;
  std::string log;
  bool quiet = false;
  bool plain = false;
};

std::atomic<bool> g_stop{false};

void OnSignal(int) {
  g_stop.store(true);
}

// Event-log lines as UTF-8, kept for the live table and printed in plain mode.
class EventLines {
 public:
  void SetEcho(bool echo) { echo_ = echo; }
  void Add(int32_t level_word, const char* line) {
    char stamp[16];
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    std::strftime(stamp, sizeof stamp, "%H:%M:%S", &tm);
    static const char* kLevels[] = {"setup", "fail ", "state"};
    int level = level_word & 0xFF;
    std::string text = std::string(stamp) + " " + (level <= 2 ? kLevels[level] : "?") + "  " +
                       Cp949ToUtf8(line, std::strlen(line));
    std::lock_guard<std::mutex> lock(mutex_);
    if (echo_) {
      std::printf("%s\n", text.c_str());
      std::fflush(stdout);
    }
    lines_.push_back(std::move(text));
    if (lines_.size() > 8) lines_.pop_front();
  }
  std::deque<std::string> Recent() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }

 private:
  std::mutex mutex_;
  std::deque<std::string> lines_;
  bool echo_ = true;
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

// Reads 'TAG VALUE' lines until stopped; a FIFO is opened again when its writer goes away.
void ReadValues(const std::string& path) {
  bool is_stdin = path == "-";
  struct stat st {};
  bool is_fifo = !is_stdin && ::stat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
  long line_number = 0;
  while (!g_stop.load()) {
    int fd = is_stdin ? 0 : ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      std::fprintf(stderr, "veldrane-host: cannot open %s: %s\n", path.c_str(),
                   std::strerror(errno));
      return;
    }
    veldrane::host::LineSplitter splitter;
    auto on_line = [&](const std::string& text, bool too_long) {
      ++line_number;
      veldrane::host::ValueLine line =
          too_long ? veldrane::host::ValueLine{veldrane::host::ValueLine::kError, "", 0,
                                               "line longer than 4096 characters"}
                   : veldrane::host::ParseValueLine(text);
      if (line.kind == veldrane::host::ValueLine::kError) {
        std::fprintf(stderr, "veldrane-host: %s line %ld: %s (ignored)\n", path.c_str(),
                     line_number, line.error.c_str());
      } else if (line.kind == veldrane::host::ValueLine::kValue) {
        if (TagDbFind(line.tag.c_str()) < 0) {
          std::fprintf(stderr, "veldrane-host: %s line %ld: no station shows tag '%s' (ignored)\n",
                       path.c_str(), line_number, Cp949ToUtf8(line.tag).c_str());
        } else {
          SetTag(line.tag, line.value);
        }
      }
    };
    bool writer_seen = false;
    while (!g_stop.load()) {
      pollfd p{fd, POLLIN, 0};
      int r = ::poll(&p, 1, 200);
      if (r < 0 && errno != EINTR) break;
      if (r <= 0) continue;
      char buffer[4096];
      ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n > 0) {
        writer_seen = true;
        splitter.Feed(buffer, static_cast<size_t>(n), on_line);
        continue;
      }
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      // End of data: a FIFO without writer reads as the end too.
      if (is_fifo && !writer_seen) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        continue;
      }
      break;
    }
    splitter.Finish(on_line);
    if (!is_stdin) ::close(fd);
    if (!is_fifo) return;
  }
}

std::string KindName(int32_t kind) {
  static const char* kNames[] = {"DPM",     "DIM",         "WD-7SIG",    "WI94-DVM5V",
                                 "SKM-500", "C&M 4-digit", "C&M 6-digit"};
  return kind >= 0 && kind <= 6 ? kNames[kind] : "kind " + std::to_string(kind);
}

std::string State(int32_t result) {
  switch (result) {
    case -1:
      return "disabled";
    case 0:
      return "ok";
    case 1:
      return "FAILING";
    default:
      return "?";
  }
}

// Display width of UTF-8 text, counting Hangul as two columns.
size_t Columns(const std::string& utf8) {
  size_t cols = 0;
  for (size_t i = 0; i < utf8.size();) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : 4;
    cols += n == 3 ? 2 : 1;
    i += n;
  }
  return cols;
}

std::string Pad(const std::string& utf8, size_t width) {
  size_t cols = Columns(utf8);
  return cols >= width ? utf8 : utf8 + std::string(width - cols, ' ');
}

std::string StationTable(const DriverModule& driver, int32_t index,
                         const std::vector<StationRow>& stations) {
  std::string out;
  char line[512];
  std::snprintf(line, sizeof line, "%-3s %s %-12s %-5s %s %14s %8s %8s  %s\n", "#",
                Pad("station", 16).c_str(), "meter", "no.", Pad("tag", 14).c_str(), "last value",
                "sent", "failed", "state");
  out += line;
  for (size_t i = 0; i < stations.size(); ++i) {
    const StationRow& s = stations[i];
    int32_t sent = 0, failed = 0, third = 0, fourth = 0;
    int32_t result = driver.GetStats(index, s.name.c_str(), &sent, &failed, &third, &fourth);
    double value = 0;
    std::string shown = "-";
    if (!s.tag.empty() && g_values.Get(s.tag, &value)) {
      char v[64];
      std::snprintf(v, sizeof v, "%.*f", static_cast<int>(s.decimals > 7 ? 7 : s.decimals), value);
      shown = v;
    }
    std::snprintf(line, sizeof line, "%-3zu %s %-12s %-5d %s %14s %8d %8d  %s\n", i + 1,
                  Pad(Cp949ToUtf8(s.name), 16).c_str(), KindName(s.kind).c_str(), s.number,
                  Pad(s.tag.empty() ? "-" : Cp949ToUtf8(s.tag), 14).c_str(), shown.c_str(), sent,
                  failed, State(result).c_str());
    out += line;
  }
  return out;
}

int Run(const Options& options) {
  std::vector<StationRow> stations;
  std::string error;
  bool have_stations = veldrane::host::ReadStations(options.config, &stations, &error);

  // Every tag the configuration links exists in the tag database, with value 0 until one
  // arrives, so that it resolves.
  std::vector<veldrane::host::SimulatedTag> tags;
  for (const StationRow& s : stations) {
    if (s.tag.empty()) continue;
    bool known = TagDbFind(s.tag.c_str()) >= 0;
    TagDbDefine(s.tag.c_str(), kTagTypeAnalog);
    if (!known) {
      tags.push_back({s.tag, s.kind});
      g_values.Set(s.tag, 0);
    }
  }

  bool live = !options.quiet && !options.plain && isatty(1);
  g_events.SetEcho(!live);
  EventLogSetListener(&OnEventLine, nullptr);
  if (!options.log.empty() && EventLogOpenFile(options.log.c_str()) != 0) {
    std::fprintf(stderr, "veldrane-host: cannot open the log file %s\n", options.log.c_str());
    return kUsage;
  }

  DriverModule driver;
  if (!driver.Load(options.driver, &error)) {
    std::fprintf(stderr, "veldrane-host: %s\n", error.c_str());
    return kNoDriver;
  }
  int32_t index = driver.Open(options.config.c_str());
  if (index < 0) {
    std::fprintf(stderr, "veldrane-host: the driver could not open %s\n", options.config.c_str());
    return kFileNotOpened;
  }
  if (!have_stations) std::fprintf(stderr, "veldrane-host: %s\n", error.c_str());
  int32_t port = driver.OpenPort(index);
  if (port != 0) {
    std::fprintf(stderr, "veldrane-host: the driver could not open the port (result %d)\n", port);
    driver.Unload();
    return kPortNotOpened;
  }
  driver.ResolveTags(index);
  driver.SetActive(index, nullptr, 1);

  std::thread reader;
  if (!options.values.empty()) reader = std::thread(ReadValues, options.values);

  veldrane::host::Simulator simulator(tags);
  auto start = std::chrono::steady_clock::now();
  auto next_value = start;
  auto next_draw = start;
  while (!g_stop.load()) {
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
                    options.config.c_str(), elapsed);
      screen += head + StationTable(driver, index, stations) + "\nEvent log:\n";
      for (const std::string& l : g_events.Recent()) screen += "  " + l + "\n";
      std::fputs(screen.c_str(), stdout);
      std::fflush(stdout);
      next_draw += std::chrono::milliseconds(500);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }

  g_stop.store(true);
  if (reader.joinable()) reader.join();
  g_events.SetEcho(true);
  driver.Stop(index);
  std::printf("\nStatistics:\n%s", StationTable(driver, index, stations).c_str());
  int32_t sent = 0, failed = 0, third = 0, fourth = 0;
  int32_t summary = driver.GetStats(index, nullptr, &sent, &failed, &third, &fourth);
  std::printf("total: %d frames sent, %d failed\n", sent, failed);
  (void)summary;
  driver.Unload();
  EventLogSetListener(nullptr, nullptr);
  return kOk;
}

int Version(const Options& options) {
  DriverModule driver;
  std::string error;
  if (!driver.Load(options.driver, &error)) {
    std::fprintf(stderr, "veldrane-host: %s\n", error.c_str());
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
  DriverModule driver;
  std::string error;
  if (!driver.Load(options.driver, &error)) {
    std::fprintf(stderr, "veldrane-host: %s\n", error.c_str());
    return kNoDriver;
  }
  int32_t saved = driver.Configure(options.config.c_str());
  std::printf("DrvConfigure(%s) = %d (%s)\n", options.config.c_str(), saved,
              saved ? "saved" : "not saved");
  return kOk;
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
  Options options;
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto need_value = [&](const char* name) -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "veldrane-host: %s needs a value\n", name);
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
        std::fprintf(stderr, "veldrane-host: --seconds takes a number of seconds, not '%s'\n", v);
        return kUsage;
      }
    } else if (arg == "--log") {
      options.log = need_value("--log");
    } else if (arg == "--quiet") {
      options.quiet = true;
    } else if (arg == "--plain") {
      options.plain = true;
    } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
      std::fprintf(stderr, "veldrane-host: unknown option '%s'\n", arg.c_str());
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
    std::fprintf(stderr, "veldrane-host: '%s' %s\n", options.command.c_str(),
                 needs_config ? "needs one CONFIG file" : "takes no file");
    Usage(stderr);
    return kUsage;
  }
  if (needs_config) options.config = positional[1];

  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  if (options.command == "run") return Run(options);
  if (options.command == "configure") return Configure(options);
  if (options.command == "version") return Version(options);
  std::fprintf(stderr, "veldrane-host: unknown command '%s'\n", options.command.c_str());
  Usage(stderr);
  return kUsage;
}
