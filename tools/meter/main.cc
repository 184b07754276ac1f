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
#include "tools/meter/decoder.h"
#include "tools/meter/meter_board.h"
#include "tools/meter/meter_config.h"
#include "tools/meter/meter_line.h"
#include "tools/meter/meter_session.h"
#include "tools/meter/meter_signals.h"
#include "tools/meter/meter_view.h"
#include "tools/meter/pty_link.h"

namespace {

using namespace veldrane::meter;

enum ExitCode { kOk = 0, kLineFailed = 1, kUsage = 2, kConfigNotRead = 3 };

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

bool IsValueOption(const std::string& arg) {
  for (const char* option : {"--port", "--pty-group", "--link", "--listen", "--config", "--baud",
                             "--parity", "--data-bits", "--stop-bits", "--seconds"}) {
    if (arg == option) return true;
  }
  return false;
}

bool SetParity(const std::string& value, Options& options, std::string* error) {
  if (value == "none" || value == "N" || value == "n") {
    options.line.parity = 'N';
  } else if (value == "even" || value == "E" || value == "e") {
    options.line.parity = 'E';
  } else if (value == "odd" || value == "O" || value == "o") {
    options.line.parity = 'O';
  } else {
    *error = "bad parity: " + value + " (none, even or odd)";
    return false;
  }
  options.line_given[1] = true;
  return true;
}

// --data-bits (7 or 8) and --stop-bits (1 or 2).
bool SetBits(const std::string& arg, const std::string& value, Options& options,
             std::string* error) {
  const bool data = arg == "--data-bits";
  const char* const low = data ? "7" : "1";
  const char* const high = data ? "8" : "2";
  if (value != low && value != high) {
    *error = std::string(data ? "bad data bits: " : "bad stop bits: ") + value + " (" + low +
             " or " + high + ")";
    return false;
  }
  (data ? options.line.data_bits : options.line.stop_bits) = value[0] - '0';
  options.line_given[data ? 2 : 3] = true;
  return true;
}

// One option that takes a value (IsValueOption); false with a message when the value is bad.
bool SetValueOption(const std::string& arg, const std::string& value, Options& options,
                    std::string* error) {
  double number = 0;
  if (arg == "--port") {
    options.port = value;
  } else if (arg == "--pty-group") {
    if (value.empty()) {
      *error = "--pty-group needs a group";
      return false;
    }
    options.pty_group = value;
  } else if (arg == "--link") {
    options.link = value;
  } else if (arg == "--listen") {
    options.listen = value;
  } else if (arg == "--config") {
    options.config = value;
  } else if (arg == "--baud") {
    if (!ParseNumber(value, number) || number < 1 || number != static_cast<uint32_t>(number)) {
      *error = "bad baud rate: " + value;
      return false;
    }
    options.line.baud = static_cast<uint32_t>(number);
    options.line_given[0] = true;
  } else if (arg == "--parity") {
    return SetParity(value, options, error);
  } else if (arg == "--data-bits" || arg == "--stop-bits") {
    return SetBits(arg, value, options, error);
  } else if (arg == "--seconds") {
    if (!ParseNumber(value, number) || !(number > 0) || !std::isfinite(number)) {
      *error = "bad number of seconds: " + value + " (a number above 0)";
      return false;
    }
    options.seconds = number;
  }
  return true;
}

// The line options that go together; false with a message when they do not.
bool CheckOptions(const Options& options, std::string* error) {
  if (options.pty + !options.port.empty() + !options.listen.empty() != 1) {
    *error = "give either --port DEVICE or --pty, or --listen ADDRESS";
    return false;
  }
  if (!options.link.empty() && !options.pty) {
    *error = "--link goes with --pty";
    return false;
  }
  if (!options.pty_group.empty() && !options.pty) {
    *error = "--pty-group goes with --pty";
    return false;
  }
  return true;
}

// False with a message on a bad command line.
bool ParseOptions(int argc, char** argv, Options& options, std::string* error) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::string value;
    bool has_value = false;
    if (size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg = arg.substr(0, eq);
      has_value = true;
    }
    if (arg == "-h" || arg == "--help") {
      Usage(stdout);
      std::exit(kOk);
    } else if (arg == "--pty") {
      options.pty = true;
    } else if (arg == "--plain") {
      options.plain = true;
    } else if (arg == "--raw") {
      options.raw = true;
    } else if (!IsValueOption(arg)) {
      *error = "unknown argument: " + arg;
      return false;
    } else if (!has_value && i + 1 >= argc) {
      *error = arg + " needs a value";
      return false;
    } else if (!SetValueOption(arg, has_value ? value : argv[++i], options, error)) {
      return false;
    }
  }
  return CheckOptions(options, error);
}

// The configuration's stations for the decoder and the board, and its line settings where the
// command line gave none. False with a message when it cannot be read.
bool ApplyConfig(Options& options, FrameDecoder& decoder, MeterBoard& board, std::string* error) {
  MeterConfig config;
  if (!ReadMeterConfig(options.config, config, error)) return false;
  for (const ConfiguredStation& station : config.stations) {
    decoder.SetStationKind(station.number, station.kind);
  }
  board.Configure(config.stations);
  if (!options.line_given[0]) options.line.baud = config.line.baud;
  if (!options.line_given[1]) options.line.parity = config.line.parity;
  if (!options.line_given[2]) options.line.data_bits = config.line.data_bits;
  if (!options.line_given[3]) options.line.stop_bits = config.line.stop_bits;
  return true;
}

std::unique_ptr<MeterLine> OpenLine(const Options& options, std::string* error) {
  if (options.pty) return MeterLine::CreatePty(options.line, options.pty_group, error);
  if (!options.listen.empty()) return MeterLine::Listen(options.listen, options.line, error);
  return MeterLine::OpenDevice(options.port, options.line, error);
}

int Fail(const std::string& error, int status) {
  std::fprintf(stderr, "veldrane-meter: %s\n", error.c_str());
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  std::string error;
  if (!ParseOptions(argc, argv, options, &error)) {
    std::fprintf(stderr, "veldrane-meter: %s\n", error.c_str());
    Usage(stderr);
    return kUsage;
  }
  FrameDecoder decoder;
  MeterBoard board;
  if (!options.config.empty() && !ApplyConfig(options, decoder, board, &error)) {
    return Fail(error, kConfigNotRead);
  }
  std::unique_ptr<MeterLine> line = OpenLine(options, &error);
  if (!line) return Fail(error, kLineFailed);
  PtyLink link;
  if (!options.link.empty() && !link.Make(options.link, line->name(), &error)) {
    return Fail(error, kLineFailed);
  }
  const std::atomic<bool>& stop = StopOnSignals();
  veldrane::platform::UseUtf8Output();
  SessionSettings settings;
  settings.live = !options.raw && !options.plain && veldrane::platform::PrepareLiveView();
  settings.raw = options.raw;
  settings.seconds = options.seconds;
  settings.line_text = "listening on " + line->name() + " (" + DescribeLine(options.line) + ")";
  if (!options.link.empty()) settings.line_text += " linked from " + options.link;
  MeterSession session(std::move(settings), std::move(line), std::move(decoder), std::move(board));
  return session.Run(stop) ? kOk : kLineFailed;
}
