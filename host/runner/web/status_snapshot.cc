#include "host/runner/web/status_snapshot.h"

#include <cmath>

#include "host/runner/lines/run_lines.h"
#include "host/runner/mqtt/mqtt_topics.h"
#include "host/runner/web/status_json.h"
#include "tools/meter/meter_face.h"

namespace veldrane::host {
namespace {

const char* StateName(LineState state) {
  switch (state) {
    case LineState::kRunning:
      return "running";
    case LineState::kStopped:
      return "stopped";
    case LineState::kConfigNotOpened:
      return "config not opened";
    case LineState::kPortNotOpened:
      return "port not opened";
    case LineState::kNotOpened:
      break;
  }
  return "not opened";
}

bool SameStatus(const StationSnapshot& a, StationHealth health, const StationStatus& s) {
  const StationStatus& o = a.status;
  bool same_value = o.value == s.value || (std::isnan(o.value) && std::isnan(s.value));
  return a.health == health && o.sent == s.sent && o.failed == s.failed && o.result == s.result &&
         o.has_value == s.has_value && same_value;
}

bool SameLine(const LineSnapshot& a, const LineSnapshot& b) {
  return a.state == b.state && a.sent == b.sent && a.failed == b.failed &&
         a.port_open == b.port_open &&
         std::lround(a.frames_per_second * 10) == std::lround(b.frames_per_second * 10);
}

bool SameInput(const InputHealth& a, const InputHealth& b) {
  return a.name == b.name && a.ok == b.ok && a.detail == b.detail && a.values == b.values &&
         a.refused == b.refused;
}

// Frames a second over the last few seconds, so that the figure does not jump with each pass.
double UpdateRate(int64_t frames, std::chrono::steady_clock::time_point now, double* per_second,
                  int64_t* last_frames, std::chrono::steady_clock::time_point* last_at) {
  if (*last_frames < 0 || frames < *last_frames) {
    *last_frames = frames;
    *last_at = now;
    return *per_second = 0;
  }
  double seconds = std::chrono::duration<double>(now - *last_at).count();
  if (seconds >= 2) {
    *per_second = static_cast<double>(frames - *last_frames) / seconds;
    *last_frames = frames;
    *last_at = now;
  }
  return *per_second;
}

LineSnapshot LineOf(const RunLine& line, size_t first) {
  LineSnapshot ls;
  // A path is the file system's bytes (UTF-8 here), not code page 949 as the stations' names.
  ls.name = LineName(line.config);
  ls.config = line.config;
  ls.port = line.port;
  ls.state = StateName(line.state);
  ls.problem = !line.read_error.empty() ? line.read_error : line.port_problem;
  ls.port_open = line.running();
  ls.sent = line.sent;
  ls.failed = line.failed;
  ls.first = first;
  ls.count = line.watch ? line.watch->size() : line.stations.size();
  return ls;
}

StationHealth HealthOf(const RunLine& line, size_t i) {
  return line.watch ? line.watch->health(i) : StationHealth::kDisabled;
}

StationStatus StatusOf(const RunLine& line, size_t i) {
  return line.watch ? line.watch->status(i) : StationStatus{};
}

// The station's next snapshot from the one before (null: its first).
std::shared_ptr<const StationSnapshot> NextStation(const RunLine& line, size_t l, size_t i,
                                                   const StationSnapshot* old,
                                                   const std::string& line_name, uint64_t version) {
  auto s = std::make_shared<StationSnapshot>();
  s->line = l;
  s->row = line.watch ? line.watch->stations()[i] : line.stations[i];
  s->health = HealthOf(line, i);
  s->status = StatusOf(line, i);
  s->shows = old ? old->shows : "";
  // The meter shows what the last frame carried: a failed frame, or a value no frame can carry,
  // leaves it as it was.
  bool frame_went = old ? s->status.sent > old->status.sent : s->status.sent > 0;
  std::string shown;
  if (frame_went && s->health == StationHealth::kOk && s->status.has_value &&
      meter::ShownFor(s->row.kind, s->row.number, s->row.decimals, s->status.value, &shown)) {
    s->shows = shown;
  }
  s->changed = version;
  s->json = PageStationJson(*s, line_name);
  return s;
}

}  // namespace

bool SnapshotBuilder::Changed(const GatewayView& view, const std::vector<LineSnapshot>& lines,
                              const std::vector<bool>& fresh) const {
  const Snapshot* before = last_.get();
  if (!before || before->inputs.size() != view.inputs.size() ||
      before->lines.size() != lines.size()) {
    return true;
  }
  for (size_t i = 0; i < view.inputs.size(); ++i) {
    if (!SameInput(before->inputs[i], view.inputs[i])) return true;
  }
  for (size_t l = 0; l < lines.size(); ++l) {
    const LineSnapshot& old = before->lines[l];
    if (old.first != lines[l].first || old.count != lines[l].count || !SameLine(old, lines[l])) {
      return true;
    }
    if (!fresh[l]) continue;
    const RunLine& line = (*view.lines)[l];
    for (size_t i = 0; i < old.count; ++i) {
      if (!SameStatus(*before->stations[old.first + i], HealthOf(line, i), StatusOf(line, i))) {
        return true;
      }
    }
  }
  return false;
}

std::shared_ptr<const Snapshot> SnapshotBuilder::Build(const GatewayView& view,
                                                       std::chrono::steady_clock::time_point now) {
  static const std::vector<RunLine> kNoLines;
  GatewayView seen = view;
  if (!seen.lines) seen.lines = &kNoLines;
  const std::vector<RunLine>& lines = *seen.lines;
  if (rates_.size() != lines.size()) rates_.assign(lines.size(), Rate{});
  std::vector<LineSnapshot> line_snapshots;
  size_t first = 0;
  for (size_t l = 0; l < lines.size(); ++l) {
    LineSnapshot ls = LineOf(lines[l], first);
    Rate& rate = rates_[l];
    ls.frames_per_second =
        UpdateRate(ls.sent + ls.failed, now, &rate.per_second, &rate.frames, &rate.at);
    first += ls.count;
    line_snapshots.push_back(std::move(ls));
  }
  if (watch_seen_.size() != lines.size()) watch_seen_.assign(lines.size(), ~uint64_t{0});
  std::vector<bool> fresh(lines.size(), true);
  for (size_t l = 0; l < lines.size(); ++l) {
    if (!lines[l].watch) continue;
    const uint64_t updates = lines[l].watch->updates();
    fresh[l] = updates != watch_seen_[l];
    watch_seen_[l] = updates;
  }
  if (!Changed(seen, line_snapshots, fresh)) return nullptr;

  const Snapshot* before = last_.get();
  auto next = std::make_shared<Snapshot>();
  next->version = version_ + 1;
  next->elapsed = view.elapsed;
  next->inputs = view.inputs;
  next->lines = std::move(line_snapshots);
  next->stations.reserve(first);
  for (size_t l = 0; l < lines.size(); ++l) {
    const LineSnapshot& ls = next->lines[l];
    bool same_layout = before && l < before->lines.size() && before->lines[l].first == ls.first &&
                       before->lines[l].count == ls.count;
    for (size_t i = 0; i < ls.count; ++i) {
      const auto* old = same_layout ? &before->stations[ls.first + i] : nullptr;
      if (old && (!fresh[l] || SameStatus(**old, HealthOf(lines[l], i), StatusOf(lines[l], i)))) {
        next->stations.push_back(*old);
      } else {
        next->stations.push_back(
            NextStation(lines[l], l, i, old ? old->get() : nullptr, ls.name, next->version));
      }
    }
  }
  version_ = next->version;
  last_ = next;
  return last_;
}

}  // namespace veldrane::host
