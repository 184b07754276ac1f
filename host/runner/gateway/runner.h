// The runner: loads the driver, opens each configuration as a line on its own port, and runs its
// value inputs and status outputs around the lines until it is asked to stop, then stops every
// line and hands the outputs the final statistics. It owns the lines, the tag values and the
// event log's listener; the program only builds it (main.cc), and tests drive it in-process.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/loader/driver_module.h"
#include "host/runner/gateway/status_output.h"
#include "host/runner/gateway/tag_values.h"
#include "host/runner/gateway/value_input.h"
#include "host/runner/lines/run_lines.h"

namespace veldrane::host {

struct RunnerSettings {
  std::vector<std::string> configs;  // one line each
  std::string driver;                // the driver module's path
  std::string log;                   // the event log is appended to this file; empty: none
  double seconds = -1;               // the run ends after this long; negative: when asked
};

// How a run learns that it must end. The program's: its signals (stop_signals.h); a test's: a
// flag of its own.
struct StopControl {
  const std::atomic<bool>* requested = nullptr;  // set: the run ends within a quarter second
  std::function<void()> request;                 // asks for the end (the time ran out, ...)
  std::function<void()> arm;  // once the lines run: a signal asks for a clean stop
};

class Runner final : public ValueSink {
 public:
  // `say` tells the user why something failed, a line at a time.
  using Say = std::function<void(const std::string& text)>;

  Runner(RunnerSettings settings, StopControl stop, Say say);
  ~Runner() override;
  Runner(const Runner&) = delete;
  Runner& operator=(const Runner&) = delete;

  // Before Run; each is started in the order given.
  void AddInput(std::unique_ptr<ValueInput> input);
  void AddOutput(std::unique_ptr<StatusOutput> output);

  // The whole run; returns the exit status (exit_status.h). When the driver does not stop a line
  // in time the process ends here (a driver's thread still runs: nothing may be unloaded).
  int Run();

  // ValueSink, from any thread.
  Result SetValue(const std::string& tag, double value, std::string_view input) override;
  bool LastValue(const std::string& tag, double* value) const override;

 private:
  static void OnEventLine(int32_t category, int32_t level_word, const char* line, void* self);
  void OnEvent(int32_t level_word, const char* line);

  bool PrepareRun(std::string* error);
  void LinkTags();
  int StartLines();
  int StartPlugins();
  void Loop();
  void Turn(std::chrono::steady_clock::time_point now, double elapsed);
  std::chrono::steady_clock::time_point NextWake() const;
  int EndRun(int status);
  void WatchAll(bool details_due, bool values_moved);
  void WatchOne(RunLine* line, bool details_due, bool values_moved);
  GatewayView View(double elapsed, bool details_fresh) const;
  void SayNotStopped();

  RunnerSettings settings_;
  StopControl stop_;
  Say say_;
  std::vector<std::unique_ptr<ValueInput>> inputs_;
  std::vector<std::unique_ptr<StatusOutput>> outputs_;
  size_t inputs_started_ = 0;
  size_t outputs_started_ = 0;

  DriverModule driver_;
  std::vector<RunLine> lines_;  // read once; never resized after, as the plug-ins keep them
  TagValues values_;
  std::atomic<uint64_t> events_{0};
  bool listening_ = false;

  // The loop's schedule, on the runner's thread.
  struct Schedule {
    std::chrono::steady_clock::time_point start, next_watch, next_details;
    std::chrono::milliseconds details_every{0};  // zero: no output wants the stations read
    bool every_reading = false;  // an output shows every move of the counts and values
    uint64_t values_seen = ~uint64_t{0};
    double elapsed = 0;
  };
  Schedule schedule_;
};

}  // namespace veldrane::host
