#include "host/runner/outputs/station_table.h"

#include <cstdio>

#include "comm/meter_kinds.h"
#include "platform/text/cp949.h"
#include "platform/text/display_text.h"
#include "platform/text/text_width.h"

namespace veldrane::host {
namespace {

std::string KindName(int32_t kind) {
  const MeterKind* model = FindMeterKind(kind);
  return model ? model->short_name : "kind " + std::to_string(kind);
}

// The status topics' names, in upper case where the integrator's eye is needed.
std::string State(StationHealth health) {
  std::string name = HealthName(health);
  if (health == StationHealth::kFailing || health == StationHealth::kLost) {
    for (char& c : name) c = static_cast<char>(c - 'a' + 'A');
  }
  return name;
}

std::string HeaderRow() {
  char line[512];
  std::snprintf(line, sizeof line, "%-3s %s %-12s %-5s %s %14s %8s %8s  %s\n", "#",
                platform::PadRight("station", 16).c_str(), "meter", "no.",
                platform::PadRight("tag", 14).c_str(), "last value", "sent", "failed", "state");
  return line;
}

std::string StationRowText(const LineWatch& watch, size_t i) {
  const StationRow& s = watch.stations()[i];
  const StationStatus& st = watch.status(i);
  std::string shown = "-";
  if (st.has_value) {
    // The value as the tag holds it; the meter shows it rounded to its decimals.
    char v[64];
    std::snprintf(v, sizeof v, "%.10g", st.value);
    shown = v;
  }
  char line[512];
  std::snprintf(line, sizeof line, "%-3zu %s %-12s %-5d %s %14s %8d %8d  %s\n", i + 1,
                platform::PadRight(platform::DisplayCp949(s.name), 16).c_str(),
                KindName(s.kind).c_str(), s.number,
                platform::PadRight(s.tag.empty() ? "-" : platform::DisplayCp949(s.tag), 14).c_str(),
                shown.c_str(), st.sent, st.failed, State(watch.health(i)).c_str());
  return line;
}

// "7 stations: 5 ok, 1 FAILING, 1 LOST; 120 sent, 9 failed"
std::string Heading(const LiveLine& line) {
  std::string text = line.title + ": ";
  if (!line.watch) return text + line.note + "\n";
  size_t counts[4] = {};
  long long sent = 0, failed = 0;
  for (size_t i = 0; i < line.watch->size(); ++i) {
    ++counts[static_cast<int>(line.watch->health(i))];
    sent += line.watch->status(i).sent;
    failed += line.watch->status(i).failed;
  }
  text += std::to_string(line.watch->size()) + " stations";
  const char* separator = ": ";
  for (StationHealth h : {StationHealth::kOk, StationHealth::kFailing, StationHealth::kLost,
                          StationHealth::kDisabled}) {
    if (counts[static_cast<int>(h)] == 0) continue;
    text += separator + std::to_string(counts[static_cast<int>(h)]) + " " + State(h);
    separator = ", ";
  }
  return text + "; " + std::to_string(sent) + " sent, " + std::to_string(failed) + " failed\n";
}

}  // namespace

std::string FormatStationTable(const LineWatch& line) {
  std::string out = HeaderRow();
  for (size_t i = 0; i < line.size(); ++i) out += StationRowText(line, i);
  return out;
}

std::string FormatLiveLines(const std::vector<LiveLine>& lines, size_t rows) {
  // Which stations are shown: all when they fit; else those not ok, then the others in turns.
  std::vector<std::vector<bool>> shown(lines.size());
  size_t stations = 0, with_stations = 0;
  for (size_t l = 0; l < lines.size(); ++l) {
    size_t n = lines[l].watch ? lines[l].watch->size() : 0;
    shown[l].assign(n, false);
    stations += n;
    with_stations += n > 0 ? 1 : 0;
  }
  size_t fixed = 1 + lines.size();  // the column header and the headings
  bool all = fixed + stations <= rows;
  // A line that does not show every station says so in one more row.
  fixed += with_stations;
  size_t budget = all ? stations : rows > fixed ? rows - fixed : 0;
  for (size_t l = 0; l < lines.size(); ++l) {
    for (size_t i = 0; i < shown[l].size() && budget > 0; ++i) {
      if (all || lines[l].watch->health(i) != StationHealth::kOk) {
        shown[l][i] = true;
        --budget;
      }
    }
  }
  std::vector<size_t> next(lines.size(), 0);
  for (bool more = true; more && budget > 0;) {
    more = false;
    for (size_t l = 0; l < lines.size() && budget > 0; ++l) {
      while (next[l] < shown[l].size() && shown[l][next[l]]) ++next[l];
      if (next[l] == shown[l].size()) continue;
      shown[l][next[l]++] = true;
      --budget;
      more = true;
    }
  }

  std::string out = HeaderRow();
  for (size_t l = 0; l < lines.size(); ++l) {
    out += Heading(lines[l]);
    size_t hidden = 0;
    for (size_t i = 0; i < shown[l].size(); ++i) {
      if (shown[l][i]) {
        out += StationRowText(*lines[l].watch, i);
      } else {
        ++hidden;
      }
    }
    if (hidden > 0) out += "    ... " + std::to_string(hidden) + " more stations not shown\n";
  }
  return out;
}

}  // namespace veldrane::host
