#include "host/runner/web/status_snapshot.h"

#include <cmath>

#include "host/runner/mqtt_topics.h"
#include "host/runner/run_lines.h"
#include "host/runner/web/status_json.h"
#include "platform/cp949.h"
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

}  // namespace

std::shared_ptr<const Snapshot> SnapshotBuilder::Build(const GatewayView& view,
                                                       std::chrono::steady_clock::time_point now) {
  auto next = std::make_shared<Snapshot>();
  const Snapshot* before = last_.get();
  next->version = version_ + 1;
  next->elapsed = view.elapsed;
  next->inputs = view.inputs;
  bool changed = !before || before->inputs.size() != next->inputs.size();
  for (size_t i = 0; !changed && i < next->inputs.size(); ++i) {
    changed = !SameInput(before->inputs[i], next->inputs[i]);
  }
  static const std::vector<RunLine> kNoLines;
  const std::vector<RunLine>& lines = view.lines ? *view.lines : kNoLines;
  if (rates_.size() != lines.size()) rates_.assign(lines.size(), Rate{});
  for (size_t l = 0; l < lines.size(); ++l) {
    const RunLine& line = lines[l];
    LineSnapshot ls;
    ls.name = platform::Cp949ToUtf8(LineName(line.config));
    ls.config = platform::Cp949ToUtf8(line.config);
    ls.port = line.port;
    ls.state = StateName(line.state);
    ls.problem = !line.read_error.empty() ? line.read_error : line.port_problem;
    ls.port_open = line.running();
    ls.sent = line.sent;
    ls.failed = line.failed;
    Rate& rate = rates_[l];
    ls.frames_per_second =
        UpdateRate(line.sent + line.failed, now, &rate.per_second, &rate.frames, &rate.at);
    ls.first = next->stations.size();
    const LineWatch* watch = line.watch.get();
    ls.count = watch ? watch->size() : line.stations.size();
    bool same_layout = before && l < before->lines.size() && before->lines[l].first == ls.first &&
                       before->lines[l].count == ls.count;
    changed = changed || !same_layout || !SameLine(before->lines[l], ls);
    for (size_t i = 0; i < ls.count; ++i) {
      const StationSnapshot* old = same_layout ? &before->stations[ls.first + i] : nullptr;
      StationHealth health = watch ? watch->health(i) : StationHealth::kDisabled;
      StationStatus status = watch ? watch->status(i) : StationStatus{};
      if (old && SameStatus(*old, health, status)) {
        next->stations.push_back(*old);
        continue;
      }
      StationSnapshot s;
      s.line = l;
      s.row = watch ? watch->stations()[i] : line.stations[i];
      s.health = health;
      s.status = status;
      s.shows = old ? old->shows : "";
      std::string shown;
      // The meter shows what the last frame carried: a failed frame, or a value no frame can
      // carry, leaves it as it was.
      bool frame_went = old ? status.sent > old->status.sent : status.sent > 0;
      if (frame_went && health == StationHealth::kOk && status.has_value &&
          meter::ShownFor(s.row.kind, s.row.number, s.row.decimals, status.value, &shown)) {
        s.shows = shown;
      }
      s.changed = next->version;
      s.json = PageStationJson(s, ls.name);
      next->stations.push_back(std::move(s));
      changed = true;
    }
    next->lines.push_back(std::move(ls));
  }
  if (!changed) return nullptr;
  version_ = next->version;
  last_ = next;
  return last_;
}

}  // namespace veldrane::host
