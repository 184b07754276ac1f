#include "host/runner/web/metrics_text.h"

#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>

#include "platform/text/cp949.h"

namespace veldrane::host {
namespace {

std::string Number(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

// Writes the family's HELP and TYPE once, then its samples.
class Family {
 public:
  Family(std::string* out, const char* name, const char* type, const char* help)
      : out_(out), name_(name) {
    *out_ += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
  }
  void Sample(const std::string& labels, double value) {
    *out_ += name_;
    if (!labels.empty()) *out_ += "{" + labels + "}";
    *out_ += " " + Number(value) + "\n";
  }

 private:
  std::string* out_;
  const char* name_;
};

std::string StationLabels(const Snapshot& snapshot, const StationSnapshot& s) {
  return "line=\"" + LabelValue(snapshot.lines[s.line].name) + "\",station=\"" +
         LabelValue(platform::Cp949ToUtf8(s.row.name)) + "\",number=\"" +
         std::to_string(s.row.number) + "\"";
}

std::string LineLabels(const LineSnapshot& line) {
  return "line=\"" + LabelValue(line.name) + "\",port=\"" + LabelValue(line.port) + "\"";
}

void Stations(std::string* out, const Snapshot& snapshot) {
  static const char* kStates[] = {"ok", "failing", "lost", "disabled"};
  std::vector<std::string> labels;
  labels.reserve(snapshot.stations.size());
  for (const auto& s : snapshot.stations) labels.push_back(StationLabels(snapshot, *s));
  Family sent(out, "veldrane_station_frames_sent_total", "counter",
              "Frames sent to the station's meter.");
  for (size_t i = 0; i < labels.size(); ++i)
    sent.Sample(labels[i], snapshot.stations[i]->status.sent);
  Family failed(out, "veldrane_station_frames_failed_total", "counter",
                "Frames to the station's meter that failed.");
  for (size_t i = 0; i < labels.size(); ++i) {
    failed.Sample(labels[i], snapshot.stations[i]->status.failed);
  }
  Family state(out, "veldrane_station_state", "gauge",
               "1 for the station's state (ok, failing, lost, disabled), 0 for the others.");
  for (size_t i = 0; i < labels.size(); ++i) {
    for (int k = 0; k < 4; ++k) {
      state.Sample(labels[i] + ",state=\"" + kStates[k] + "\"",
                   static_cast<int>(snapshot.stations[i]->health) == k ? 1 : 0);
    }
  }
  Family value(out, "veldrane_station_value", "gauge",
               "The last value of the station's tag (stations with a tag).");
  for (size_t i = 0; i < labels.size(); ++i) {
    const StationSnapshot& s = *snapshot.stations[i];
    if (!s.status.has_value) continue;
    value.Sample(labels[i] + ",tag=\"" + LabelValue(platform::Cp949ToUtf8(s.row.tag)) + "\"",
                 s.status.value);
  }
}

void Lines(std::string* out, const Snapshot& snapshot) {
  Family sent(out, "veldrane_line_frames_sent_total", "counter", "Frames the line sent.");
  for (const LineSnapshot& l : snapshot.lines)
    sent.Sample(LineLabels(l), static_cast<double>(l.sent));
  Family failed(out, "veldrane_line_frames_failed_total", "counter",
                "Frames of the line that failed.");
  for (const LineSnapshot& l : snapshot.lines) {
    failed.Sample(LineLabels(l), static_cast<double>(l.failed));
  }
  Family open(out, "veldrane_line_port_open", "gauge",
              "1 while the line runs on its open port, 0 when it does not run.");
  for (const LineSnapshot& l : snapshot.lines) open.Sample(LineLabels(l), l.port_open ? 1 : 0);
  Family stations(out, "veldrane_line_stations", "gauge", "The line's stations.");
  for (const LineSnapshot& l : snapshot.lines) {
    stations.Sample(LineLabels(l), static_cast<double>(l.count));
  }
}

void Inputs(std::string* out, const Snapshot& snapshot, const ServerFigures& server) {
  Family values(out, "veldrane_input_values_total", "counter",
                "Values the input gave that were set.");
  for (const InputHealth& in : snapshot.inputs) {
    values.Sample("input=\"" + LabelValue(in.name) + "\"", static_cast<double>(in.values));
  }
  Family refused(out, "veldrane_input_refused_total", "counter",
                 "Values or requests the input refused.");
  for (const InputHealth& in : snapshot.inputs) {
    refused.Sample("input=\"" + LabelValue(in.name) + "\"", static_cast<double>(in.refused));
  }
  Family up(out, "veldrane_input_up", "gauge", "1 while the input can give values.");
  for (const InputHealth& in : snapshot.inputs) {
    up.Sample("input=\"" + LabelValue(in.name) + "\"", in.ok ? 1 : 0);
  }
  static const char* kLevels[] = {"setup", "fail", "state"};
  Family events(out, "veldrane_events_total", "counter", "Lines of the driver's event log.");
  for (size_t i = 0; i < server.events.size(); ++i) {
    events.Sample(std::string("level=\"") + kLevels[i] + "\"",
                  static_cast<double>(server.events[i]));
  }
  Family streams(out, "veldrane_web_stream_clients", "gauge", "Open event streams of the page.");
  streams.Sample("", static_cast<double>(server.stream_clients));
  Family uptime(out, "veldrane_uptime_seconds", "gauge", "Seconds since the run started.");
  uptime.Sample("", snapshot.elapsed);
}

void Process(std::string* out, const ProcessFigures& p) {
  struct Item {
    const char* name;
    const char* type;
    const char* help;
    double value;
  } items[] = {
      {"process_resident_memory_bytes", "gauge", "Resident memory size in bytes.",
       p.resident_bytes},
      {"process_virtual_memory_bytes", "gauge", "Virtual memory size in bytes.", p.virtual_bytes},
      {"process_cpu_seconds_total", "counter", "User and system CPU time in seconds.",
       p.cpu_seconds},
      {"process_open_fds", "gauge", "Open file descriptors.", p.open_fds},
      {"process_max_fds", "gauge", "The limit of open file descriptors.", p.max_fds},
      {"process_start_time_seconds", "gauge", "Start time of the process since the epoch.",
       p.start_time_seconds},
  };
  for (const Item& item : items) {
    if (item.value < 0) continue;
    Family(out, item.name, item.type, item.help).Sample("", item.value);
  }
}

}  // namespace

std::string LabelValue(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '"') {
      out += "\\\"";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

std::string MetricsText(const Snapshot& snapshot, const ServerFigures& server,
                        const ProcessFigures& process) {
  std::string out;
  out.reserve(256 + snapshot.stations.size() * 600);
  Stations(&out, snapshot);
  Lines(&out, snapshot);
  Inputs(&out, snapshot, server);
  Process(&out, process);
  return out;
}

ProcessFigures ReadProcessFigures() {
  ProcessFigures p;
  std::ifstream stat("/proc/self/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  // The fields after the command's closing parenthesis, from field 3 (state) on.
  size_t close = text.rfind(')');
  long ticks = sysconf(_SC_CLK_TCK), page = sysconf(_SC_PAGESIZE);
  if (close != std::string::npos && ticks > 0) {
    std::istringstream fields(text.substr(close + 2));
    std::vector<std::string> f;
    for (std::string word; fields >> word;) f.push_back(word);
    // Field n of proc(5) is f[n - 3].
    if (f.size() > 21) {
      p.cpu_seconds = (std::stod(f[11]) + std::stod(f[12])) / static_cast<double>(ticks);
      p.virtual_bytes = std::stod(f[20]);
      p.resident_bytes = std::stod(f[21]) * static_cast<double>(page);
      std::ifstream uptime("/proc/uptime");
      double up = 0;
      if (uptime >> up) {
        double started_ago = up - std::stod(f[19]) / static_cast<double>(ticks);
        p.start_time_seconds = static_cast<double>(std::time(nullptr)) - started_ago;
      }
    }
  }
  if (DIR* dir = opendir("/proc/self/fd")) {
    int count = 0;
    while (dirent* entry = readdir(dir)) count += entry->d_name[0] != '.';
    closedir(dir);
    p.open_fds = count - 1;  // not the directory's own
  }
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0) p.max_fds = static_cast<double>(limit.rlim_cur);
  return p;
}

}  // namespace veldrane::host
