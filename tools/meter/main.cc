// veldrane-meter: the virtual meter and line monitor. Listens on a serial line, a
// pseudo-terminal of its own or (on POSIX) a network port as a device server, decodes the frames
// of the seven meter kinds and shows what each meter would display.
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/report_limit.h"
#include "tools/meter/decoder.h"
#include "tools/meter/meter_board.h"
#include "tools/meter/meter_config.h"
#include "tools/meter/meter_line.h"
#include "tools/meter/meter_signals.h"
#include "tools/meter/meter_view.h"
#include "tools/meter/pty_link.h"

namespace {

using namespace veldrane::meter;
using Clock = std::chrono::steady_clock;

enum ExitCode { kOk = 0, kLineFailed = 1, kUsage = 2, kConfigNotRead = 3 };

// Bytes of a frame begun are dropped as bad when the line stays quiet this long.
constexpr auto kIdleFlush = std::chrono::seconds(1);
constexpr auto kRedrawEvery = std::chrono::milliseconds(200);
constexpr int kPollMs = 50;

void Usage(std::FILE* out) {
  std::fprintf(
      out,
      "Usage: veldrane-meter [OPTIONS] (--port DEVICE | --pty | --listen ADDRESS)\n"
      "\n"
      "The virtual meter: reads a meter line, decodes the frames of all seven meter kinds and\n"
      "shows what each meter would display.\n"
      "\n"
      "Line:\n"
      "  --port DEVICE     listen on a serial device (/dev/ttyUSB1, /dev/ttyS0, a pty)\n"
      "  --pty             create a pseudo-terminal, print its name and listen on it; the\n"
      "                    driver (or anything) writes frames to that name\n"
      "  --pty-group GROUP with --pty: the pseudo-terminal belongs to GROUP, which may read\n"
      "                    and write it (e.g. dialout, for a service's user)\n"
      "  --link PATH       with --pty: also make PATH a symbolic link to it while running\n"
      "                    (e.g. a port-map entry: --link \"$VELDRANE_PORTS/com1\"); only a\n"
      "                    symbolic link or nothing may be at PATH\n"
      "  --listen ADDRESS  be a device server with the meters on its line: tcp://HOST:PORT\n"
      "                    takes the line's raw bytes, rfc2217://HOST:PORT Telnet with the\n"
      "                    COM-PORT-OPTION (the line settings a client sets are shown); one\n"
      "                    client at a time, a new one replacing the last\n"
      "  --baud N          300 to 230400 (default 9600)\n"
      "  --parity P        none, even or odd (default none)\n"
      "  --data-bits N     7 or 8 (default 8)\n"
      "  --stop-bits N     1 or 2 (default 1)\n"
      "  --config FILE     a Veldrane configuration: each station's kind and name (the kind\n"
      "                    settles frames that two kinds could have sent) and, unless given\n"
      "                    above, its line settings\n"
      "\n"
      "Output:\n"
      "  (default)         a live panel on a terminal, one meter per station; plain lines\n"
      "                    when standard output is not a terminal\n"
      "  --plain           one line per frame, even on a terminal\n"
      "  --raw             each frame in hex with its decoding, and the bytes of no frame\n"
      "  --seconds N       stop after N seconds (default: until Ctrl-C)\n"
      "  -h, --help        this help\n"
      "\n"
      "Exit status: 0 success, 1 the line could not be opened or failed, 2 usage,\n"
      "3 configuration not read.\n");
}

struct Options {
  std::string port;
  bool pty = false;
  std::string pty_group;
  std::string link;
  std::string listen;
  std::string config;
  LineSettings line;
  bool line_given[4] = {false, false, false, false};  // baud, parity, data, stop
  bool plain = false;
  bool raw = false;
  double seconds = -1;
};

bool ParseNumber(const std::string& text, double& value) {
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  return !text.empty() && end != nullptr && *end == '\0';
}

// False with a message on a bad command line.
bool ParseOptions(int argc, char** argv, Options& options, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::string value;
    bool has_value = false;
    if (size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg = arg.substr(0, eq);
      has_value = true;
    }
    auto take = [&](std::string& out) {
      if (has_value) {
        out = value;
        return true;
      }
      if (i + 1 >= argc) {
        error = arg + " needs a value";
        return false;
      }
      out = argv[++i];
      return true;
    };
    double number = 0;
    if (arg == "-h" || arg == "--help") {
      Usage(stdout);
      std::exit(kOk);
    } else if (arg == "--port") {
      if (!take(options.port)) return false;
    } else if (arg == "--pty") {
      options.pty = true;
    } else if (arg == "--pty-group") {
      if (!take(options.pty_group)) return false;
      if (options.pty_group.empty()) {
        error = "--pty-group needs a group";
        return false;
      }
    } else if (arg == "--link") {
      if (!take(options.link)) return false;
    } else if (arg == "--listen") {
      if (!take(options.listen)) return false;
    } else if (arg == "--config") {
      if (!take(options.config)) return false;
    } else if (arg == "--plain") {
      options.plain = true;
    } else if (arg == "--raw") {
      options.raw = true;
    } else if (arg == "--baud") {
      if (!take(value)) return false;
      if (!ParseNumber(value, number) || number < 1 || number != static_cast<uint32_t>(number)) {
        error = "bad baud rate: " + value;
        return false;
      }
      options.line.baud = static_cast<uint32_t>(number);
      options.line_given[0] = true;
    } else if (arg == "--parity") {
      if (!take(value)) return false;
      if (value == "none" || value == "N" || value == "n") {
        options.line.parity = 'N';
      } else if (value == "even" || value == "E" || value == "e") {
        options.line.parity = 'E';
      } else if (value == "odd" || value == "O" || value == "o") {
        options.line.parity = 'O';
      } else {
        error = "bad parity: " + value + " (none, even or odd)";
        return false;
      }
      options.line_given[1] = true;
    } else if (arg == "--data-bits") {
      if (!take(value)) return false;
      if (value != "7" && value != "8") {
        error = "bad data bits: " + value + " (7 or 8)";
        return false;
      }
      options.line.data_bits = value[0] - '0';
      options.line_given[2] = true;
    } else if (arg == "--stop-bits") {
      if (!take(value)) return false;
      if (value != "1" && value != "2") {
        error = "bad stop bits: " + value + " (1 or 2)";
        return false;
      }
      options.line.stop_bits = value[0] - '0';
      options.line_given[3] = true;
    } else if (arg == "--seconds") {
      if (!take(value)) return false;
      if (!ParseNumber(value, number) || !(number > 0) || !std::isfinite(number)) {
        error = "bad number of seconds: " + value + " (a number above 0)";
        return false;
      }
      options.seconds = number;
    } else {
      error = "unknown argument: " + arg;
      return false;
    }
  }
  if (options.pty + !options.port.empty() + !options.listen.empty() != 1) {
    error = "give either --port DEVICE or --pty, or --listen ADDRESS";
    return false;
  }
  if (!options.link.empty() && !options.pty) {
    error = "--link goes with --pty";
    return false;
  }
  if (!options.pty_group.empty() && !options.pty) {
    error = "--pty-group goes with --pty";
    return false;
  }
  return true;
}

void PrintLine(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// The terminal panel: drawn over itself from the top left corner, cursor hidden meanwhile.
class LivePanel {
 public:
  LivePanel() { std::fputs("\033[?25l\033[2J", stdout); }
  ~LivePanel() {
    std::fputs("\033[?25h", stdout);
    std::fflush(stdout);
  }
  LivePanel(const LivePanel&) = delete;
  LivePanel& operator=(const LivePanel&) = delete;

  void Draw(const std::string& text) {
    std::string screen = "\033[H";
    for (size_t start = 0; start < text.size();) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      screen += text.substr(start, end - start) + "\033[K\n";
      start = end + 1;
    }
    screen += "\033[J";
    std::fputs(screen.c_str(), stdout);
    std::fflush(stdout);
  }
};

}  // namespace

int main(int argc, char** argv) {
  Options options;
  std::string error;
  if (!ParseOptions(argc, argv, options, error)) {
    std::fprintf(stderr, "veldrane-meter: %s\n", error.c_str());
    Usage(stderr);
    return kUsage;
  }

  FrameDecoder decoder;
  MeterBoard board;
  if (!options.config.empty()) {
    MeterConfig config;
    if (!ReadMeterConfig(options.config, config, error)) {
      std::fprintf(stderr, "veldrane-meter: %s\n", error.c_str());
      return kConfigNotRead;
    }
    for (const ConfiguredStation& station : config.stations) {
      decoder.SetStationKind(station.number, station.kind);
    }
    board.Configure(config.stations);
    // The configuration's line settings, where the command line gave none.
    if (!options.line_given[0]) options.line.baud = config.line.baud;
    if (!options.line_given[1]) options.line.parity = config.line.parity;
    if (!options.line_given[2]) options.line.data_bits = config.line.data_bits;
    if (!options.line_given[3]) options.line.stop_bits = config.line.stop_bits;
  }

  std::unique_ptr<MeterLine> line =
      options.pty               ? MeterLine::CreatePty(options.line, options.pty_group, error)
      : !options.listen.empty() ? MeterLine::Listen(options.listen, options.line, error)
                                : MeterLine::OpenDevice(options.port, options.line, error);
  if (!line) {
    std::fprintf(stderr, "veldrane-meter: %s\n", error.c_str());
    return kLineFailed;
  }
  PtyLink link;
  if (!options.link.empty() && !link.Make(options.link, line->name(), error)) {
    std::fprintf(stderr, "veldrane-meter: %s\n", error.c_str());
    return kLineFailed;
  }
  const std::atomic<bool>& stop = StopOnSignals();
  veldrane::platform::UseUtf8Output();
  bool live = !options.raw && !options.plain && veldrane::platform::PrepareLiveView();
  std::string line_text = "listening on " + line->name() + " (" + DescribeLine(options.line) + ")";
  if (!options.link.empty()) line_text += " linked from " + options.link;
  if (!live) PrintLine(line_text);
  std::unique_ptr<LivePanel> panel;
  if (live) panel = std::make_unique<LivePanel>();

  auto started = Clock::now();
  // Seconds beyond the clock's range (--seconds 1e308) mean no end but Ctrl-C.
  double seconds_left_in_clock =
      std::chrono::duration<double>(Clock::time_point::max() - started).count();
  auto deadline = options.seconds >= seconds_left_in_clock / 2
                      ? Clock::time_point::max()
                      : started + std::chrono::duration_cast<Clock::duration>(
                                      std::chrono::duration<double>(options.seconds));
  auto last_byte = started;
  auto last_draw = started - kRedrawEvery;
  std::vector<Decoded> found;
  std::string panel_line_notice;  // the last notice of the line, on the live panel
  uint8_t buffer[4096];
  int status = kOk;
  // Noise in plain lines: the first few runs in full, then a count per interval.
  veldrane::platform::ReportLimit noise_limit;
  uint64_t noise_bytes_not_shown = 0;
  auto report_noise_not_shown = [&](WallTime when, bool flush) {
    if (uint64_t runs = noise_limit.TakeUncounted(Clock::now(), flush)) {
      PrintLine(PlainUncountedLine(runs, noise_bytes_not_shown, when));
      noise_bytes_not_shown = 0;
    }
  };

  auto report = [&](WallTime when) {
    for (const Decoded& item : found) {
      if (item.is_frame) {
        const VirtualMeter& meter = board.Record(item.frame, when);
        if (options.raw) {
          PrintLine(RawFrameLine(item.frame, when));
        } else if (!live) {
          PrintLine(PlainFrameLine(item.frame, meter, board.has_configuration(), when));
        }
      } else if (options.raw) {
        PrintLine(RawRejectedLine(item.bytes, when));
      } else if (!live) {
        report_noise_not_shown(when, false);
        if (noise_limit.Take(Clock::now())) {
          PrintLine(PlainRejectedLine(item.bytes, when));
        } else {
          noise_bytes_not_shown += item.bytes.size();
        }
      }
    }
    found.clear();
    if (!live && !options.raw) report_noise_not_shown(when, false);
  };
  auto draw = [&](Clock::time_point now, bool stopped) {
    PanelStatus panel_status;
    panel_status.stopped = stopped;
    panel_status.line = line_text + (panel_line_notice.empty() ? "" : "; " + panel_line_notice);
    panel_status.rejected = decoder.rejected_bytes();
    panel_status.pending = decoder.pending();
    if (options.seconds > 0) {
      panel_status.seconds_left = std::chrono::duration<double>(deadline - now).count();
    }
    panel->Draw(PanelText(board, panel_status, std::chrono::system_clock::now()));
    last_draw = now;
  };

  while (!stop.load()) {
    long count = line->Read(buffer, sizeof buffer, kPollMs, error);
    auto now = Clock::now();
    if (count < 0) {
      std::fprintf(stderr, "veldrane-meter: %s: %s\n", line->name().c_str(), error.c_str());
      status = kLineFailed;
      break;
    }
    for (std::string notice; line->TakeNotice(notice);) {
      if (live) {
        panel_line_notice = notice;
      } else {
        PrintLine(notice);
      }
    }
    if (count > 0) {
      decoder.Feed(buffer, static_cast<size_t>(count), found);
      last_byte = now;
    } else if (decoder.pending() > 0 && now - last_byte >= kIdleFlush) {
      decoder.Flush(found);
    }
    report(std::chrono::system_clock::now());
    if (live && now - last_draw >= kRedrawEvery) draw(now, false);
    if (options.seconds > 0 && now >= deadline) break;
  }

  decoder.Flush(found);
  report(std::chrono::system_clock::now());
  if (!live && !options.raw) report_noise_not_shown(std::chrono::system_clock::now(), true);
  if (live) {
    draw(Clock::now(), true);
    panel.reset();
  } else {
    std::fputs(SummaryText(board, decoder.rejected_bytes()).c_str(), stdout);
    std::fflush(stdout);
  }
  return status;
}
