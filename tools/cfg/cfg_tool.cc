#include "tools/cfg/cfg_tool.h"

#include <sys/stat.h>

#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <exception>
#include <map>
#include <unordered_map>

#include "comm/meter_kinds.h"
#include "config/doc.h"
#include "config/station_name.h"
#include "config/text_lines.h"
#include "fw/archive.h"
#include "host/runner/inputs/modbus_map.h"
#include "hostlink/station_limits.h"
#include "platform/serial/serial_inventory.h"
#include "platform/text/cp949.h"
#include "platform/text/display_text.h"
#include "platform/text/text_width.h"
#include "platform/text/utf8.h"
#include "tools/cfg/cfg_port_options.h"
#include "tools/cfg/cfg_ports.h"

namespace veldrane::cfg {
namespace {

constexpr const char* kProgram = "veldrane-cfg";
// Columns of the longest meter name with its kind number.
constexpr size_t kKindWidth = 28;

constexpr const char* kUsageText =
    "Usage: veldrane-cfg COMMAND FILE [OPTIONS]\n"
    "       veldrane-cfg ports\n"
    "       veldrane-cfg modbus-map FILE...\n"
    "\n"
    "Inspects, creates and edits Veldrane configuration files.\n"
    "\n"
    "Commands:\n"
    "  new FILE [--force] [PORT OPTIONS]\n"
    "                          create an empty configuration with the default port settings\n"
    "                          (COM1, 9600, 8N1, no handshake) but those given; an existing\n"
    "                          FILE is kept unless --force is given\n"
    "  port FILE [PORT OPTIONS]\n"
    "                          without options, print the port settings; with them, set those\n"
    "                          given and save FILE as import does (under its lock, replaced\n"
    "                          only when the new one is complete)\n"
    "  show FILE               print the port settings and the stations (Korean as UTF-8)\n"
    "  export FILE [--utf8 | --cp949]\n"
    "                          write the station text lines to standard output: UTF-8 on a\n"
    "                          terminal or with --utf8, code page 949 bytes otherwise\n"
    "  import FILE [--utf8] [--wait SECONDS]\n"
    "                          merge station text lines from standard input by station name,\n"
    "                          exactly as a paste does, and save FILE (the old file is replaced\n"
    "                          only when the new one is complete); --utf8: the input is UTF-8\n"
    "                          (a byte-order mark at its start is skipped; text that is not\n"
    "                          UTF-8, or a character that code page 949 lacks, is refused with\n"
    "                          its line), otherwise code page 949 bytes. Imports take turns:\n"
    "                          one waits up to --wait seconds (default 10) while another\n"
    "                          program changes FILE, then gives up and changes nothing\n"
    "  check FILE              report duplicate station names and numbers, numbers outside 0\n"
    "                          to 255, kinds outside 0 to 6, decimals outside 0 to 7, names\n"
    "                          and tags that hold control characters, and port settings the\n"
    "                          driver refuses or ports outside COM1 to COM36\n"
    "  modbus-map FILE...      print the register map that veldrane-host --modbus serves\n"
    "                          without --modbus-map: every tag the FILEs link, in the order of\n"
    "                          their stations, a float32 each from register 0, in the map\n"
    "                          file's format (UTF-8), to start a map of your own from\n"
    "  ports                   list the serial devices of this machine with their stable\n"
    "                          names (/dev/serial/by-id/...) and the COM ports that the port\n"
    "                          map (/etc/veldrane/ports, then /dev/veldrane) leads to each\n"
    "\n"
    "Port options (the values the window's port page offers):\n"
    "  --com N                 the port, 1 to 36 (COM1 to COM36)\n"
    "  --baud B                300, 600, 1200, 2400, 4800, 9600, 19200 or 38400\n"
    "  --parity P              none, even or odd\n"
    "  --data N                data bits, 7 or 8\n"
    "  --stop N                stop bits, 1 or 2\n"
    "  --rts-cts on|off        the RTS/CTS handshake around each frame\n"
    "\n"
    "Options:\n"
    "  -h, --help              this help\n"
    "\n"
    "Exit status: 0 done; 1 the command failed (a file that cannot be read or written, a\n"
    "damaged configuration, one locked by another program, input refused; nothing was\n"
    "changed) or check found problems; 2 bad usage.\n";

struct Command {
  std::string name;
  std::string file;
  std::vector<std::string> more_files;  // modbus-map takes several
  std::vector<std::string> options;
};

void Error(const Streams& s, const std::string& message) {
  std::fprintf(s.err, "%s: %s\n", kProgram, message.c_str());
}

int Usage(const Streams& s, const std::string& message) {
  Error(s, message);
  std::fprintf(s.err, "Try '%s --help'.\n", kProgram);
  return kUsage;
}

// The message for a load or save that failed.
std::string Describe(const CArchiveException& e, const std::string& file) {
  if (e.cause() == ArchiveCause::kFileError) return e.what();
  return file + " is damaged or not a configuration file: " + e.what();
}

// `lock_wait_ms` >= 0: loads for an update, holding the file's lock until the save.
bool LoadDoc(const Streams& s, const std::string& file, CVeldraneDoc& doc,
             int64_t lock_wait_ms = -1) {
  try {
    if (lock_wait_ms >= 0) {
      doc.LoadFileForUpdate(file.c_str(), static_cast<uint32_t>(lock_wait_ms));
    } else {
      doc.LoadFile(file.c_str());
    }
    return true;
  } catch (const CArchiveException& e) {
    Error(s, Describe(e, file));
  } catch (const std::exception& e) {
    Error(s, file + ": " + e.what());
  }
  return false;
}

bool SaveDoc(const Streams& s, const std::string& file, CVeldraneDoc& doc) {
  try {
    doc.SaveFile(file.c_str());
    return true;
  } catch (const CArchiveException& e) {
    Error(s, Describe(e, file) + " (the old file, if any, is unchanged)");
  } catch (const std::exception& e) {
    Error(s, file + ": " + e.what());
  }
  return false;
}

// Text for the terminal: UTF-8, control characters escaped.
std::string Display(const CString& s) {
  return platform::DisplayCp949({s.GetString(), s.GetLength()});
}

std::string Padded(const CString& cp949, size_t width) {
  return platform::PadRight(Display(cp949), width);
}

// "3 <meter name>" in code page 949.
CString KindText(int32_t kind) {
  CString text;
  if (const MeterKind* model = FindMeterKind(kind)) {
    text.Format("%d %s", kind, model->name);
  } else {
    text.Format("%d ?", kind);
  }
  return text;
}

std::string PortText(const CSerialPort& port) {
  std::string text = "COM" + std::to_string(port.ComNumber()) + ", ";
  uint32_t baud = port.BaudRate();
  text += baud != 0 ? std::to_string(baud) : "baud index " + std::to_string(port.baud_index) + "?";
  text += ", " + std::to_string(port.ByteSize());
  text += port.KnownParity() ? port.ParityLetter() : '?';
  text += std::to_string(port.StopBitCount());
  text += port.RtsCts() ? ", RTS/CTS" : ", no handshake";
  return text;
}

// Takes the port options of `c` into `changes`, and --force when `force` is given; false after
// saying what is wrong.
bool TakePortOptions(const Command& c, const Streams& s, PortChanges* changes, bool* force,
                     int* status) {
  for (const std::string& o : c.options) {
    std::string error;
    if (force != nullptr && o == "--force") {
      *force = true;
    } else if (!ParsePortOption(o, changes, &error)) {
      *status = Usage(s, c.name + ": " + error);
      return false;
    }
  }
  return true;
}

int CmdNew(const Command& c, const Streams& s) {
  bool force = false;
  PortChanges changes;
  int status = kUsage;
  if (!TakePortOptions(c, s, &changes, &force, &status)) return status;
  struct stat st {};
  if (!force && ::stat(c.file.c_str(), &st) == 0) {
    Error(s, c.file + " exists; it was left as it is (--force replaces it)");
    return kFailed;
  }
  CVeldraneDoc doc;
  ApplyPortChanges(changes, &doc.Port());
  if (!SaveDoc(s, c.file, doc)) return kFailed;
  std::fprintf(s.out, "created %s: %s, no stations\n", c.file.c_str(),
               PortText(doc.Port()).c_str());
  return FinishOutput(s) ? kOk : kFailed;
}

int CmdPort(const Command& c, const Streams& s) {
  PortChanges changes;
  int status = kUsage;
  if (!TakePortOptions(c, s, &changes, nullptr, &status)) return status;
  CVeldraneDoc doc;
  if (changes.empty()) {
    if (!LoadDoc(s, c.file, doc)) return kFailed;
    std::fprintf(s.out, "%s\n", PortText(doc.Port()).c_str());
    return FinishOutput(s) ? kOk : kFailed;
  }
  // Held from reading to saving, so that an import or a window saving meanwhile loses nothing.
  if (!LoadDoc(s, c.file, doc, CVeldraneDoc::kLockWaitMs)) return kFailed;
  CSerialPort before;
  before.CopyFrom(doc.Port());
  ApplyPortChanges(changes, &doc.Port());
  const CSerialPort& after = doc.Port();
  if (after.port_index == before.port_index && after.baud_index == before.baud_index &&
      after.parity_index == before.parity_index && after.data_bits == before.data_bits &&
      after.stop_bits == before.stop_bits && after.option_flags == before.option_flags) {
    std::fprintf(s.out, "%s unchanged: %s\n", c.file.c_str(), PortText(after).c_str());
    return FinishOutput(s) ? kOk : kFailed;
  }
  if (!SaveDoc(s, c.file, doc)) return kFailed;
  std::fprintf(s.out, "saved %s: %s\n", c.file.c_str(), PortText(after).c_str());
  return FinishOutput(s) ? kOk : kFailed;
}

int CmdShow(const Command& c, const Streams& s) {
  if (!c.options.empty()) return Usage(s, "show: unknown option '" + c.options[0] + "'");
  CVeldraneDoc doc;
  if (!LoadDoc(s, c.file, doc)) return kFailed;
  const auto& stations = doc.Stations();
  std::fprintf(s.out, "file      %s\n", c.file.c_str());
  std::fprintf(s.out, "port      %s\n", PortText(doc.Port()).c_str());
  uint32_t other_flags = doc.Port().option_flags & ~CSerialPort::kRtsCtsBit;
  if (other_flags != 0) std::fprintf(s.out, "flags     0x%08X (kept)\n", doc.Port().option_flags);
  std::fprintf(s.out, "stations  %zu\n", stations.size());
  if (stations.empty()) return FinishOutput(s) ? kOk : kFailed;

  size_t name_width = 4, tag_width = 3;
  for (const auto& st : stations) {
    name_width = std::max(name_width, platform::DisplayWidth(Display(st->name)));
    tag_width = std::max(tag_width, platform::DisplayWidth(Display(st->tag_name)));
  }
  std::fprintf(s.out, "\n%5s  %s  %6s  %s  %8s  %s  %s\n", "#", Padded("name", name_width).c_str(),
               "number", Padded("kind", kKindWidth).c_str(), "decimals",
               Padded("tag", tag_width).c_str(), "description");
  size_t i = 0;
  for (const auto& st : stations) {
    std::fprintf(s.out, "%5zu  %s  %6d  %s  %8u  %s  %s\n", ++i,
                 Padded(st->name, name_width).c_str(), st->number,
                 Padded(KindText(st->kind), kKindWidth).c_str(), st->decimals,
                 Padded(st->tag_name, tag_width).c_str(), Display(st->description).c_str());
  }
  return FinishOutput(s) ? kOk : kFailed;
}

int CmdExport(const Command& c, const Streams& s) {
  bool utf8 = s.out_is_terminal;
  for (const std::string& o : c.options) {
    if (o == "--utf8") {
      utf8 = true;
    } else if (o == "--cp949") {
      utf8 = false;
    } else {
      return Usage(s, "export: unknown option '" + o + "'");
    }
  }
  CVeldraneDoc doc;
  if (!LoadDoc(s, c.file, doc)) return kFailed;
  CMemFile memory;
  CArchive ar(&memory, CArchive::kStore);
  WriteStationLines(ar, doc);
  ar.Close();
  std::string text = memory.Data();
  if (utf8) {
    try {
      text = platform::Cp949ToUtf8Exact(text);
    } catch (const std::exception& e) {
      Error(s, std::string("cannot write the station lines as UTF-8: ") + e.what() +
                   "; --cp949 writes them as stored");
      return kFailed;
    }
    // Lines for the eye: control characters in the fields must not drive the terminal.
    if (s.out_is_terminal) text = platform::EscapeControls(text, true);
  }
  std::fwrite(text.data(), 1, text.size(), s.out);
  return FinishOutput(s) ? kOk : kFailed;
}

// Standard input as code page 949 bytes; false with a message naming the line where it cannot
// be (nothing may be merged then: two names that both became '?' would be one station).
bool ImportText(const Streams& s, bool utf8, std::string& input) {
  auto refuse = [&](size_t offset, const std::string& what) {
    platform::TextPosition at = platform::PositionOf(input, offset);
    Error(s, "standard input line " + std::to_string(at.line) + ", byte " +
                 std::to_string(at.column) + ": " + what + "; nothing was changed");
    return false;
  };
  bool bom = platform::WithoutUtf8Bom(input).size() != input.size();
  if (!utf8) {
    if (bom) return refuse(0, "a UTF-8 byte-order mark: this text is UTF-8 (use --utf8)");
    return true;
  }
  if (bom) input.erase(0, platform::kUtf8Bom.size());
  if (size_t bad = platform::InvalidUtf8At(input); bad != std::string::npos) {
    char byte[8];
    std::snprintf(byte, sizeof byte, "0x%02X", static_cast<unsigned char>(input[bad]));
    return refuse(bad, std::string("not UTF-8 (the byte ") + byte + ")");
  }
  std::string cp949;
  size_t bad = 0;
  if (!platform::Utf8ToCp949Exact(input.data(), input.size(), &cp949, &bad)) {
    size_t length = std::max<size_t>(1, platform::Utf8SequenceAt(input, bad));
    return refuse(bad, "'" + platform::EscapeControls(input.substr(bad, length)) +
                           "' has no code page 949 form");
  }
  input = std::move(cp949);
  return true;
}

int CmdImport(const Command& c, const Streams& s) {
  bool utf8 = false;
  int64_t wait_ms = CVeldraneDoc::kLockWaitMs;
  for (size_t i = 0; i < c.options.size(); ++i) {
    const std::string& o = c.options[i];
    if (o == "--utf8") {
      utf8 = true;
    } else if (o.rfind("--wait=", 0) == 0) {
      std::string value = o.substr(7);
      char* end = nullptr;
      double seconds = std::strtod(value.c_str(), &end);
      if (value.empty() || *end != '\0' || !(seconds >= 0) || seconds > 3600) {
        return Usage(s, "import: --wait takes 0 to 3600 seconds, not '" + value + "'");
      }
      wait_ms = static_cast<int64_t>(seconds * 1000);
    } else {
      return Usage(s, "import: unknown option '" + o + "'");
    }
  }
  std::string input;
  char chunk[65536];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, s.in)) > 0) input.append(chunk, n);
  if (std::ferror(s.in)) {
    Error(s, std::string("cannot read standard input: ") + std::strerror(errno) +
                 "; nothing was changed");
    return kFailed;
  }
  try {
    if (!ImportText(s, utf8, input)) return kFailed;
  } catch (const std::exception& e) {
    Error(s, std::string("cannot read the input as UTF-8: ") + e.what() + "; nothing was changed");
    return kFailed;
  }
  CVeldraneDoc doc;
  if (!LoadDoc(s, c.file, doc, wait_ms)) return kFailed;
  CMemFile memory(input.data(), input.size());
  CArchive ar(&memory, CArchive::kLoad);
  TextLineTally tally = ReadStationLines(ar, doc);
  std::fprintf(s.out, "%" PRId64 " lines taken, %" PRId64 " dropped, %" PRId64 " skipped\n",
               tally.applied, tally.dropped, tally.skipped);
  if (tally.applied == 0) {
    std::fprintf(s.out, "%s unchanged\n", c.file.c_str());
    return FinishOutput(s) ? kOk : kFailed;
  }
  if (!SaveDoc(s, c.file, doc)) return kFailed;
  std::fprintf(s.out, "saved %s: %zu stations\n", c.file.c_str(), doc.Stations().size());
  return FinishOutput(s) ? kOk : kFailed;
}

int CmdCheck(const Command& c, const Streams& s) {
  if (!c.options.empty()) return Usage(s, "check: unknown option '" + c.options[0] + "'");
  CVeldraneDoc doc;
  if (!LoadDoc(s, c.file, doc)) return kFailed;
  int problems = 0;
  auto report = [&](size_t position, const CStationInfo& st, const std::string& what) {
    std::fprintf(s.out, "station %zu (%s): %s\n", position, Display(st.name).c_str(), what.c_str());
    ++problems;
  };
  // Settings the driver refuses to open the port with, and ports no page offers.
  const CSerialPort& port = doc.Port();
  std::vector<std::string> port_problems = port.LineProblems();
  if (port.port_index < 0 || port.port_index >= platform::kHighestComPort) {
    port_problems.push_back("COM" + std::to_string(int64_t{port.port_index} + 1) +
                            " outside COM1 to COM" + std::to_string(platform::kHighestComPort));
  }
  for (const std::string& what : port_problems) {
    std::fprintf(s.out, "port: %s\n", what.c_str());
    ++problems;
  }
  std::unordered_map<std::string, size_t> first_by_name;
  std::map<int32_t, size_t> first_by_number;
  size_t position = 0;
  for (const auto& st : doc.Stations()) {
    ++position;
    std::string key = FoldStationName(st->name.GetString(), st->name.GetLength());
    auto [name_it, new_name] = first_by_name.emplace(key, position);
    if (!new_name) {
      report(position, *st, "the same name as station " + std::to_string(name_it->second));
    }
    auto [number_it, new_number] = first_by_number.emplace(st->number, position);
    if (!new_number) {
      report(position, *st,
             "number " + std::to_string(st->number) + " also used by station " +
                 std::to_string(number_it->second));
    }
    auto outside = [&](const char* what, int64_t value, int64_t highest) {
      report(position, *st,
             std::string(what) + " " + std::to_string(value) + " outside 0 to " +
                 std::to_string(highest));
    };
    // Names are shown on terminals and become MQTT topics, which take no control character.
    auto controls = [](const CString& text) {
      for (size_t i = 0; i < text.GetLength(); ++i) {
        auto byte = static_cast<unsigned char>(text.GetString()[i]);
        if (byte < 0x20 || byte == 0x7f) return true;
      }
      return false;
    };
    if (controls(st->name)) report(position, *st, "the name holds a control character");
    if (controls(st->tag_name)) {
      report(position, *st,
             "the tag '" + Display(st->tag_name) +
                 "' holds a control character: no MQTT topic can name it");
    }
    if (!IsValidStationNumber(st->number)) outside("number", st->number, kMaxStationNumber);
    if (!IsValidKind(st->kind)) outside("kind", st->kind, kKindCount - 1);
    if (!IsValidDecimals(st->decimals)) outside("decimals", st->decimals, kMaxDecimals);
  }
  if (problems == 0) {
    std::fprintf(s.out, "%s: %zu stations, no problems\n", c.file.c_str(), position);
  } else {
    std::fprintf(s.out, "%s: %d problem%s\n", c.file.c_str(), problems, problems == 1 ? "" : "s");
  }
  if (!FinishOutput(s)) return kFailed;
  return problems == 0 ? kOk : kFailed;
}

// The map the runner makes of these configurations' tags.
int CmdModbusMap(const Command& c, const Streams& s) {
  if (!c.options.empty()) return Usage(s, "modbus-map: unknown option '" + c.options[0] + "'");
  std::vector<std::string> tags;
  std::vector<std::string> files = {c.file};
  files.insert(files.end(), c.more_files.begin(), c.more_files.end());
  for (const std::string& file : files) {
    CVeldraneDoc doc;
    if (!LoadDoc(s, file, doc)) return kFailed;
    for (const auto& st : doc.Stations()) {
      tags.emplace_back(st->tag_name.GetString(), st->tag_name.GetLength());
    }
  }
  host::ModbusMap map;
  std::string error;
  if (!host::MakeModbusMap(tags, &map, &error)) {
    Error(s, error);
    return kFailed;
  }
  if (map.empty()) {
    Error(s, "no station links a tag: the map would be empty");
    return kFailed;
  }
  std::fputs(host::FormatModbusMap(map).c_str(), s.out);
  return FinishOutput(s) ? kOk : kFailed;
}

}  // namespace

bool FinishOutput(const Streams& s) {
  if (std::fflush(s.out) != 0 || std::ferror(s.out)) {
    Error(s, std::string("cannot write to standard output: ") + std::strerror(errno));
    return false;
  }
  return true;
}

int Run(const std::vector<std::string>& args, const Streams& s) {
  Command c;
  for (const std::string& a : args) {
    if (a == "-h" || a == "--help") {
      std::fputs(kUsageText, s.out);
      return FinishOutput(s) ? kOk : kFailed;
    }
  }
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if ((a == "--wait" || IsPortOption(a)) && i + 1 < args.size()) {
      c.options.push_back(a + "=" + args[++i]);
    } else if (a.size() > 1 && a[0] == '-') {
      c.options.push_back(a);
    } else if (c.name.empty()) {
      c.name = a;
    } else if (c.file.empty()) {
      c.file = a;
    } else if (c.name == "modbus-map") {
      c.more_files.push_back(a);
    } else {
      return Usage(s, "unexpected argument '" + a + "'");
    }
  }
  if (c.name.empty()) return Usage(s, "no command given");
  if (c.name == "ports") {
    if (!c.file.empty()) return Usage(s, "ports: unexpected argument '" + c.file + "'");
    if (!c.options.empty()) return Usage(s, "ports: unknown option '" + c.options[0] + "'");
    return ListPorts(s);
  }
  static const std::map<std::string, int (*)(const Command&, const Streams&)> kCommands = {
      {"new", &CmdNew},
      {"port", &CmdPort},
      {"show", &CmdShow},
      {"export", &CmdExport},
      {"import", &CmdImport},
      {"check", &CmdCheck},
      {"modbus-map", &CmdModbusMap}};
  auto it = kCommands.find(c.name);
  if (it == kCommands.end()) return Usage(s, "unknown command '" + c.name + "'");
  if (c.file.empty()) return Usage(s, c.name + ": no FILE given");
  try {
    return it->second(c, s);
  } catch (const std::exception& e) {
    Error(s, e.what());
    return kFailed;
  }
}

}  // namespace veldrane::cfg
