#include "host/runner/gateway/runner.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "host/dbm/tag_db_api.h"
#include "host/rt/event_log_api.h"
#include "host/runner/gateway/exit_status.h"
#include "platform/text/display_text.h"
#include "tarko/tagval.h"

namespace veldrane::host {
namespace {

using Clock = std::chrono::steady_clock;

// A quarter second keeps the failure runs exact: the engine sends a station at most once a pass
// of half a second.
constexpr auto kWatchEvery = std::chrono::milliseconds(250);
// How long the runner waits for the driver to stop before it ends without it, so that the
// process ends within two seconds of Ctrl-C whatever the line does.
constexpr auto kStopWait = std::chrono::milliseconds(1200);

// What each of the driver's statistics slots reads of one station, and its tag's last value.
StationStatus StatusOf(const DriverModule& driver, int32_t index, const StationRow& s,
                       const ValueSink& values) {
  StationStatus st;
  int32_t third = 0, fourth = 0;
  st.result = driver.GetStats(index, s.name.c_str(), &st.sent, &st.failed, &third, &fourth);
  st.has_value = !s.tag.empty() && values.LastValue(s.tag, &st.value);
  return st;
}

}  // namespace

Runner::Runner(RunnerSettings settings, StopControl stop, Say say)
    : settings_(std::move(settings)), stop_(std::move(stop)), say_(std::move(say)) {}

Runner::~Runner() {
  if (listening_) EventLogSetListener(nullptr, nullptr);
}

void Runner::AddInput(std::unique_ptr<ValueInput> input) {
  inputs_.push_back(std::move(input));
}

void Runner::AddOutput(std::unique_ptr<StatusOutput> output) {
  outputs_.push_back(std::move(output));
}

ValueSink::Result Runner::SetValue(const std::string& tag, double value, std::string_view input) {
  Result result = Result::kSet;
  if (!std::isfinite(value)) {
    result = Result::kNotFinite;
  } else if (TagDbFind(tag.c_str()) < 0) {
    result = Result::kUnknownTag;
  } else if (TagDbSet(tag.c_str(), value, kTagTypeAnalog) == 0) {
    values_.Set(tag, value);
  }
  values_.Count(input, result == Result::kSet);
  return result;
}

bool Runner::LastValue(const std::string& tag, double* value) const {
  return values_.Get(tag, value);
}

void Runner::OnEventLine(int32_t, int32_t level_word, const char* line, void* self) {
  static_cast<Runner*>(self)->OnEvent(level_word, line);
}

void Runner::OnEvent(int32_t level_word, const char* line) {
  EventEntry entry;
  entry.time = std::chrono::system_clock::now();
  entry.level = level_word & 0xFF;
  entry.raw = line ? line : "";
  entry.text = platform::DisplayCp949(entry.raw.c_str());
  entry.sequence = events_.fetch_add(1) + 1;
  for (const auto& output : outputs_) output->OnEvent(entry);
}

int Runner::Run() {
  std::string error;
  if (!PrepareRun(&error)) {
    say_(error);
    return kUsage;
  }
  if (!settings_.log.empty() && EventLogOpenFile(settings_.log.c_str()) != 0) {
    say_("--log: cannot open " + settings_.log + ": " + std::strerror(errno));
    return kUsage;
  }
  LinkTags();
  EventLogSetListener(&Runner::OnEventLine, this);
  listening_ = true;
  if (!driver_.Load(settings_.driver, &error)) {
    say_(error);
    return kNoDriver;
  }
  int open_status = StartLines();
  if (!std::any_of(lines_.begin(), lines_.end(), [](const RunLine& l) { return l.running(); })) {
    driver_.Unload();
    return open_status;
  }
  stop_.arm();
  int status = StartPlugins();
  Loop();
  return EndRun(status != kOk ? status : open_status);
}

// What cannot be opened is refused before anything starts.
bool Runner::PrepareRun(std::string* error) {
  for (const auto& input : inputs_) {
    if (!input->Check(error)) return false;
  }
  if (!ReadLines(settings_.configs, &lines_, error)) return false;
  for (const auto& input : inputs_) {
    if (!input->Prepare(lines_, error)) return false;
  }
  for (const auto& output : outputs_) {
    if (!output->Prepare(lines_, error)) return false;
  }
  return true;
}

// Every tag the configurations link exists in the tag database, with value 0 until one arrives,
// so that it resolves.
void Runner::LinkTags() {
  for (const RunLine& line : lines_) {
    for (const StationRow& s : line.stations) {
      if (s.tag.empty()) continue;
      bool known = TagDbFind(s.tag.c_str()) >= 0;
      TagDbDefine(s.tag.c_str(), kTagTypeAnalog);
      if (!known) values_.Link(s.tag);
    }
  }
}

// Each line on its own: one that does not open is left out while the others run.
int Runner::StartLines() {
  int open_status = kOk;
  size_t running = 0;
  for (RunLine& line : lines_) {
    StartLine(driver_, &line, say_);
    if (line.running()) ++running;
    if (line.state == LineState::kConfigNotOpened) open_status = kFileNotOpened;
    if (line.state == LineState::kPortNotOpened && open_status == kOk) {
      open_status = kPortNotOpened;
    }
  }
  if (running > 0 && running < lines_.size()) {
    say_(std::to_string(running) + " of " + std::to_string(lines_.size()) +
         " lines run; the others are left out (see above)");
  }
  return open_status;
}

// Inputs, then outputs; one that cannot start (say, options the MQTT client refuses) ends the
// run as a usage error.
int Runner::StartPlugins() {
  std::string error;
  for (const auto& input : inputs_) {
    if (!input->Start(this, &error)) break;
    ++inputs_started_;
  }
  if (inputs_started_ == inputs_.size()) {
    for (const auto& output : outputs_) {
      if (!output->Start(&error)) break;
      ++outputs_started_;
    }
  }
  if (inputs_started_ == inputs_.size() && outputs_started_ == outputs_.size()) return kOk;
  say_(error);
  stop_.request();
  return kUsage;
}

void Runner::Loop() {
  Schedule& s = schedule_;
  s.start = Clock::now();
  s.next_watch = s.start;
  s.next_details = s.start;
  for (const auto& output : outputs_) {
    auto every = output->DetailsEvery();
    if (every.count() > 0 && (s.details_every.count() == 0 || every < s.details_every)) {
      s.details_every = every;
    }
    if (every.count() > 0 && output->ShowsEveryReading()) s.every_reading = true;
  }
  while (!stop_.requested->load()) {
    auto now = Clock::now();
    s.elapsed = std::chrono::duration<double>(now - s.start).count();
    if (settings_.seconds >= 0 && s.elapsed >= settings_.seconds) break;
    Turn(now, s.elapsed);
    // Asleep until the next thing is due, at most the quarter second of the watch: a runner of
    // many lines wakes as seldom as it can, and still sees a stop within a quarter second.
    std::this_thread::sleep_until(NextWake());
  }
}

void Runner::Turn(Clock::time_point now, double elapsed) {
  Schedule& s = schedule_;
  for (size_t i = 0; i < inputs_started_; ++i) inputs_[i]->Poll(now, elapsed);
  if (now < s.next_watch) return;
  bool details_due = s.details_every.count() > 0 && now >= s.next_details;
  if (details_due) s.next_details = now + s.details_every;
  uint64_t version = values_.version();
  // Only an output that shows the tags' values needs the stations read again when one moved.
  WatchAll(details_due, s.every_reading && version != s.values_seen);
  if (details_due) s.values_seen = version;
  s.next_watch = now + kWatchEvery;
  GatewayView view = View(elapsed, details_due);
  for (size_t i = 0; i < outputs_started_; ++i) outputs_[i]->Update(view, now);
}

Clock::time_point Runner::NextWake() const {
  const Schedule& s = schedule_;
  auto next = s.next_watch;
  for (size_t i = 0; i < inputs_started_; ++i) next = std::min(next, inputs_[i]->NextPoll());
  if (settings_.seconds >= 0) {
    next = std::min(next, s.start + std::chrono::duration_cast<Clock::duration>(
                                        std::chrono::duration<double>(settings_.seconds)));
  }
  return next;
}

int Runner::EndRun(int status) {
  stop_.request();
  for (size_t i = 0; i < inputs_started_; ++i) inputs_[i]->Stop();
  for (const auto& output : outputs_) output->Stopping();
  // The counts before the stop, in case a line's driver does not return from it in time.
  WatchAll(true, true);
  bool stopped = StopLines(driver_, &lines_, kStopWait);
  // The lines that stopped, as they ended.
  for (RunLine& line : lines_) {
    if (line.state == LineState::kStopped) WatchOne(&line, true, true);
  }
  GatewayView view = View(schedule_.elapsed, true);
  for (const auto& output : outputs_) output->Finish(view);
  if (!stopped) {
    SayNotStopped();
    // A driver's thread still runs in this process: nothing may be unloaded or destroyed.
    std::_Exit(kDriverDidNotStop);
  }
  for (size_t i = 0; i < outputs_started_; ++i) outputs_[i]->Stop();
  driver_.Unload();
  EventLogSetListener(nullptr, nullptr);
  listening_ = false;
  return status;
}

void Runner::SayNotStopped() {
  for (const RunLine& line : lines_) {
    if (!line.running()) continue;
    char text[512];
    std::snprintf(text, sizeof text,
                  "the driver did not stop %s within %.1f s; ending without it (its statistics "
                  "are those before the stop)",
                  line.Title().c_str(), std::chrono::duration<double>(kStopWait).count());
    say_(text);
  }
}

void Runner::WatchAll(bool details_due, bool values_moved) {
  for (RunLine& line : lines_) WatchOne(&line, details_due, values_moved);
}

void Runner::WatchOne(RunLine* line, bool details_due, bool values_moved) {
  const int32_t index = line->index;
  WatchWants wants{schedule_.every_reading, values_moved, values_.version()};
  WatchLine(driver_, line, details_due, wants,
            [&](const StationRow& s) { return StatusOf(driver_, index, s, *this); });
}

GatewayView Runner::View(double elapsed, bool details_fresh) const {
  GatewayView view;
  view.lines = &lines_;
  view.elapsed = elapsed;
  view.details_fresh = details_fresh;
  for (size_t i = 0; i < inputs_.size(); ++i) {
    InputHealth health = inputs_[i]->Health();
    TagValues::Counts counts = values_.CountsOf(inputs_[i]->Name());
    health.values = counts.set;
    health.refused += counts.refused;
    view.inputs.push_back(std::move(health));
  }
  return view;
}

}  // namespace veldrane::host
