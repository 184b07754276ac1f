// veldrane-host: the reference host runner. Loads the driver module by path exactly as a host
// does (dlopen or LoadLibrary, DrvFuncTable), with the reference host modules, and drives its
// life cycle.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "host/dbm/tag_db_api.h"
#include "host/loader/driver_module.h"
#include "host/runner/configure_support.h"
#include "host/runner/gateway/exit_status.h"
#include "host/runner/gateway/runner.h"
#include "host/runner/inputs/modbus_lines_input.h"
#include "host/runner/inputs/mqtt_input.h"
#include "host/runner/inputs/simulation_input.h"
#include "host/runner/inputs/value_file_input.h"
#include "host/runner/lines/station_list.h"
#include "host/runner/mqtt/mqtt_options.h"
#include "host/runner/outputs/console_lines.h"
#include "host/runner/outputs/final_statistics.h"
#include "host/runner/outputs/live_table.h"
#include "host/runner/outputs/mqtt_output.h"
#include "host/runner/outputs/plain_lines.h"
#include "host/runner/stop_signals.h"
#include "host/runner/web/web_parts.h"
#include "host/sub/tarko_sub_host.h"
#include "platform/console.h"
#include "tarko/tagval.h"

namespace {

using veldrane::host::DriverModule;
using veldrane::host::kNoDriver;
using veldrane::host::kNotSaved;
using veldrane::host::kNoWindow;
using veldrane::host::kOk;
using veldrane::host::kUsage;
using veldrane::host::StationRow;

// The runner's own messages, on standard error after what standard output holds; errors to the
// journal.
void Say(const std::string& text) {
  veldrane::host::Tell(veldrane::host::Priority::kError, text);
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
      "                    exist); exit status 0 when the file was written, 1 when not (also\n"
      "                    when every save failed, with the cause, and when no\n"
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
      "%s%s%s"
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
      veldrane::host::kMqttUsage, veldrane::host::kWebUsage, veldrane::host::kModbusUsage);
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
  veldrane::host::WebOptions web;
  veldrane::host::ModbusOptions modbus;
};

// Each option's input and output, and the runner that runs them: a new input or output is one
// line here.
int Run(const Options& options) {
  namespace host = veldrane::host;
  host::Runner runner({options.configs, options.driver, options.log, options.seconds},
                      {&host::StopRequested(), host::RequestStop, host::StopCleanlyOnSignal}, Say);
  if (!options.values.empty())
    runner.AddInput(std::make_unique<host::ValueFileInput>(options.values));
  if (options.simulate) runner.AddInput(std::make_unique<host::SimulationInput>());
  auto mqtt = std::make_shared<host::MqttBridge>(options.mqtt);
  if (options.mqtt.enabled()) runner.AddInput(std::make_unique<host::MqttInput>(mqtt));
  host::WebParts web;
  if (options.web.enabled()) web = host::MakeWeb(options.web);
  if (!options.web.token.empty()) runner.AddInput(std::move(web.input));
  if (options.modbus.enabled()) {
    runner.AddInput(std::make_unique<host::ModbusLinesInput>(
        options.modbus,
        [](const std::string& text) { host::Tell(host::Priority::kWarning, text); }));
  }
  if (!options.quiet && !options.plain && veldrane::platform::PrepareLiveView()) {
    runner.AddOutput(std::make_unique<host::LiveTable>());
  } else {
    runner.AddOutput(std::make_unique<host::PlainLines>());
  }
  if (options.mqtt.enabled()) runner.AddOutput(std::make_unique<host::MqttOutput>(mqtt));
  if (web.output) runner.AddOutput(std::move(web.output));
  runner.AddOutput(std::make_unique<host::FinalStatistics>());
  return runner.Run();
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
  // DrvConfigure's 1 says that the save steps ran, not that the file was written: whether it
  // was is told by the file itself.
  veldrane::host::FileStamp before = veldrane::host::StampOf(config);
  int32_t saved = driver.Configure(config.c_str());
  if (saved) {
    if (veldrane::host::WrittenSince(before, veldrane::host::StampOf(config))) {
      std::printf("DrvConfigure(%s) = 1: the configuration was saved\n", config.c_str());
      return kOk;
    }
    char cause[2048];
    bool failed = TarkoSubLastErrMsg(2005, cause, sizeof cause) != 0;
    std::printf("DrvConfigure(%s) = 1, but the configuration was not saved: %s\n", config.c_str(),
                failed ? cause : "the file was not written during the run");
    return kNotSaved;
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

// Reads the options and the positional arguments; false with the exit status in *status when the
// program ends here (--help, a usage error).
bool ParseArguments(int argc, char** argv, Options* out, std::vector<std::string>* positional,
                    int* status) {
  Options& options = *out;
  *status = kUsage;
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
      *status = kOk;
      return false;
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
        return false;
      }
    } else if (arg == "--tags") {
      options.tags = need_value("--tags");
    } else if (arg == "--log") {
      options.log = need_value("--log");
    } else if (veldrane::host::IsMqttOption(arg)) {
      std::string error;
      if (!veldrane::host::SetMqttOption(arg, need_value(arg.c_str()), &options.mqtt, &error)) {
        Say(error);
        return false;
      }
    } else if (veldrane::host::IsWebOption(arg)) {
      std::string error;
      if (!veldrane::host::SetWebOption(arg, need_value(arg.c_str()), &options.web, &error)) {
        Say(error);
        return false;
      }
    } else if (veldrane::host::IsModbusOption(arg)) {
      std::string error;
      if (!veldrane::host::SetModbusOption(arg, need_value(arg.c_str()), &options.modbus, &error)) {
        Say(error);
        return false;
      }
    } else if (arg == "--quiet") {
      options.quiet = true;
    } else if (arg == "--plain") {
      options.plain = true;
    } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
      Say("unknown option '" + arg + "'");
      Usage(stderr);
      return false;
    } else {
      positional->push_back(arg);
    }
  }
  return true;
}

// The command and its files from the positional arguments, and the options finished; false with
// the reason said when they do not fit.
bool TakeCommand(const std::vector<std::string>& positional, Options* options) {
  if (positional.empty()) {
    Usage(stderr);
    return false;
  }
  options->command = positional[0];
  options->configs.assign(positional.begin() + 1, positional.end());
  bool is_run = options->command == "run", is_configure = options->command == "configure";
  bool files_fit = is_run         ? !options->configs.empty()
                   : is_configure ? options->configs.size() == 1
                                  : options->configs.empty();
  if (!files_fit) {
    std::fprintf(stderr, "veldrane-host: '%s' %s\n", options->command.c_str(),
                 is_run         ? "needs one CONFIG file or more"
                 : is_configure ? "needs one CONFIG file"
                                : "takes no file");
    Usage(stderr);
    return false;
  }
  std::string error;
  if (!veldrane::host::FinishMqttOptions(&options->mqtt, &error) ||
      !veldrane::host::FinishWebOptions(&options->web, &error) ||
      !veldrane::host::FinishModbusOptions(options->modbus, &error)) {
    Say(error);
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  veldrane::host::InitConsoleLines();
  Options options;
  std::vector<std::string> positional;
  int status = kOk;
  if (!ParseArguments(argc, argv, &options, &positional, &status)) return status;
  if (!TakeCommand(positional, &options)) return kUsage;

  veldrane::host::InstallStopSignals();
  veldrane::platform::UseUtf8Output();

  if (options.command == "run") return Run(options);
  if (options.command == "configure") return Configure(options);
  if (options.command == "version") return Version(options);
  Say("unknown command '" + options.command + "'");
  Usage(stderr);
  return kUsage;
}
