// A value input: something that gives the runner tag values (a file or FIFO of value lines, the
// simulation, an MQTT broker, a Modbus client, an HTTP request). Each input is one implementation
// of ValueInput; the runner starts it with the sink its values go to and stops it at the end.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace veldrane::host {

struct RunLine;  // host/runner/lines/run_lines.h: a line, its stations and its watch

// The runner's side of an input: where its values go. Safe to call from any thread: inputs call
// it from threads of their own.
class ValueSink {
 public:
  enum class Result {
    kSet,         // the tag has the value; the driver sends it on its schedule
    kUnknownTag,  // no station of any line links the tag
    kNotFinite,   // NaN or an infinity: no meter can show it
  };
  virtual ~ValueSink() = default;
  // Sets `tag` (code page 949, as the configurations store it) to `value`; `input` is the Name()
  // of the input that gives it, counted in the statistics by input.
  virtual Result SetValue(const std::string& tag, double value, std::string_view input) = 0;
  // The last value any input gave the tag (0 from the start for a linked tag); false for a tag
  // no station links.
  virtual bool LastValue(const std::string& tag, double* value) const = 0;
};

// What an input tells the status outputs of itself: shown on the status page and in the metrics.
struct InputHealth {
  std::string name;    // the input's Name()
  bool ok = true;      // connected, open, serving; false: it cannot give values now
  std::string detail;  // one line of UTF-8 for a person: "connected to mqtt://broker:1883"
  // The runner fills `values` with what its sink set for the input, and adds to `refused` what
  // the sink refused (unknown tags, values no meter can show): an input counts in `refused` only
  // what never reached the sink (a bad line, a bad request).
  uint64_t values = 0;
  uint64_t refused = 0;
};

class ValueInput {
 public:
  virtual ~ValueInput() = default;
  // A short name, one word: "values", "simulate", "mqtt", "modbus", "http".
  virtual std::string Name() const = 0;
  // Before the lines are read: whether what the input will read can be opened at all. False
  // with the reason in *error: the run ends with exit status 2 before anything starts.
  virtual bool Check(std::string* error) {
    (void)error;
    return true;
  }
  // After the lines were read, before the driver loads: the lines as configured. They stay where
  // they are for the whole run (a line's watch appears when it starts). False with the reason in
  // *error: the run ends with exit status 2 before anything starts.
  virtual bool Prepare(const std::vector<RunLine>& lines, std::string* error) {
    (void)lines;
    (void)error;
    return true;
  }
  // Starts the input's own work (threads, sockets) with `sink` for its values, which outlives the
  // input. Never waits for a peer. Called once the lines run. False with the reason in *error:
  // the run ends with exit status 2 (a usage error), its lines stopped at once; a check that
  // needs no running line belongs in Check or Prepare, which end it before anything starts.
  virtual bool Start(ValueSink* sink, std::string* error) = 0;
  // On the runner's thread at every turn of its loop (at least four times a second); for an
  // input without a thread of its own. `elapsed` counts from the start of the run.
  virtual void Poll(std::chrono::steady_clock::time_point now, double elapsed) {
    (void)now;
    (void)elapsed;
  }
  // When it wants the next Poll at the latest; max(): no wish (the runner's quarter second).
  virtual std::chrono::steady_clock::time_point NextPoll() const {
    return std::chrono::steady_clock::time_point::max();
  }
  // Ends the input's work within a second. Called once, after a Start that succeeded.
  virtual void Stop() = 0;
  // Any thread.
  virtual InputHealth Health() const = 0;
};

}  // namespace veldrane::host
