// A status output: something that shows the gateway's state to a person or a program (the live
// table, plain or journal lines, MQTT status topics, a web page, metrics). Each output is one
// implementation of StatusOutput; the runner hands it a view of the lines after each reading,
// the event log's lines as they come and the statistics at the end.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "host/runner/gateway/value_input.h"

namespace veldrane::host {

// One line of the driver's event log.
struct EventEntry {
  std::chrono::system_clock::time_point time;
  int level = 0;      // 0 setting up failed, 1 a frame failed, 2 a change of state
  std::string text;   // UTF-8, as a person reads it
  std::string raw;    // code page 949, as the driver wrote it
  uint64_t sequence;  // counts from 1 over the run: an output can tell what it has seen
};

// What the runner shows its outputs, on the runner's thread. Valid during the call only.
struct GatewayView {
  const std::vector<RunLine>* lines = nullptr;  // every line given, running or not
  std::vector<InputHealth> inputs;              // every input, in the order they were built
  double elapsed = 0;                           // seconds since the run started
  // Whether the stations' counts and values were read for this view (every DetailsEvery() of
  // the output that wants them most often); otherwise only the lines' totals are fresh.
  bool details_fresh = false;
};

class StatusOutput {
 public:
  virtual ~StatusOutput() = default;
  // A short name, one word: "live", "plain", "journal", "mqtt", "web", "metrics".
  virtual std::string Name() const = 0;
  // After the lines were read, before the driver loads, as ValueInput::Prepare.
  virtual bool Prepare(const std::vector<RunLine>& lines, std::string* error) {
    (void)lines;
    (void)error;
    return true;
  }
  // Starts the output's own work (threads, sockets), after the inputs, once the lines run (an
  // output may show their watches). False with the reason in *error: the run ends with exit
  // status 2, its lines stopped at once. A check that needs no line belongs in Prepare.
  virtual bool Start(std::string* error) {
    (void)error;
    return true;
  }
  // How often the output wants each station's counts and value read; zero: the lines' totals
  // are enough. Reading thousands of stations by name only when an output wants them keeps an
  // idle runner idle.
  virtual std::chrono::milliseconds DetailsEvery() const { return std::chrono::milliseconds(0); }
  // Whether the output shows every move of the stations' counts and tags' values (the live
  // table, the page); false when only the states that frames leave matter (the status topics),
  // which spares reading the stations while their frames repeat what the meters show.
  virtual bool ShowsEveryReading() const { return true; }
  // On the runner's thread after each reading of the lines (four times a second).
  virtual void Update(const GatewayView& view, std::chrono::steady_clock::time_point now) = 0;
  // An event-log line, on the driver's thread: must not block or call the driver. Comes from
  // before Start on (the lines' setting up) until the driver is unloaded, after Stop.
  virtual void OnEvent(const EventEntry& event) { (void)event; }
  // The run ends: no Update follows; the lines stop next (their event-log lines still come).
  // Stopping and Finish reach every output of a run whose lines ran, also one that did not
  // start (a failed Start leaves the outputs after it unstarted): the statistics still come.
  virtual void Stopping() {}
  // After every line stopped (or did not stop in time), with the lines as they ended: the final
  // statistics.
  virtual void Finish(const GatewayView& view) { (void)view; }
  // Ends the output's own work within a second. Called once, after Finish.
  virtual void Stop() {}
};

}  // namespace veldrane::host
