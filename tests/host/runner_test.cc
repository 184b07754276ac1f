// The runner in-process: the built driver loaded through its entry table, one line on a
// pseudo-terminal mapped as COM1, a fake value input and an output that records what it is
// told.
#include "host/runner/gateway/runner.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "host/dbm/tag_db_api.h"
#include "host/runner/gateway/exit_status.h"
#include "tests/support/file_bytes.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_pty.h"

namespace veldrane::test {
namespace {

using host::EventEntry;
using host::GatewayView;
using host::InputHealth;
using host::LineState;
using host::RunLine;
using host::ValueSink;
using Values = std::vector<std::pair<std::string, double>>;

struct InputLog {
  std::vector<ValueSink::Result> results;
  int polls = 0, stops = 0;
};

// Gives its values as soon as it starts, or refuses to start or to be checked.
class FakeInput : public host::ValueInput {
 public:
  FakeInput(Values values, InputLog* log) : values_(std::move(values)), log_(log) {}
  std::string Name() const override { return "fake"; }
  bool Check(std::string* error) override { return Refuse("check", error); }
  bool Start(ValueSink* sink, std::string* error) override {
    if (!Refuse("start", error)) return false;
    for (const auto& [tag, value] : values_)
      log_->results.push_back(sink->SetValue(tag, value, Name()));
    return true;
  }
  void Poll(std::chrono::steady_clock::time_point, double) override { ++log_->polls; }
  void Stop() override { ++log_->stops; }
  InputHealth Health() const override { return {Name(), true, "fake", 0, 0}; }
  std::string refuse;  // "check" or "start": that step fails

 private:
  bool Refuse(const char* step, std::string* error) {
    if (refuse != step) return true;
    *error = std::string("fake: refused at ") + step;
    return false;
  }
  Values values_;
  InputLog* log_;
};

struct OutputLog {
  std::mutex mutex;
  std::vector<uint64_t> event_sequences;
  int updates = 0, details = 0, stops = 0;
  bool stopping = false, finished = false;
  std::vector<InputHealth> inputs;  // at the last Update
  std::vector<LineState> final_states;
  bool final_had_value = false;
  double final_value = 0;
};

class RecordingOutput : public host::StatusOutput {
 public:
  explicit RecordingOutput(OutputLog* log) : log_(log) {}
  std::string Name() const override { return "recording"; }
  std::chrono::milliseconds DetailsEvery() const override { return std::chrono::milliseconds(250); }
  void Update(const GatewayView& view, std::chrono::steady_clock::time_point) override {
    ++log_->updates;
    log_->details += view.details_fresh ? 1 : 0;
    log_->inputs = view.inputs;
  }
  void OnEvent(const EventEntry& event) override {
    std::lock_guard<std::mutex> lock(log_->mutex);
    log_->event_sequences.push_back(event.sequence);
  }
  void Stopping() override { log_->stopping = true; }
  void Finish(const GatewayView& view) override {
    log_->finished = true;
    for (const RunLine& line : *view.lines) {
      log_->final_states.push_back(line.state);
      if (line.watch && line.watch->size() > 0) {
        log_->final_had_value = line.watch->status(0).has_value;
        log_->final_value = line.watch->status(0).value;
      }
    }
  }
  void Stop() override { ++log_->stops; }

 private:
  OutputLog* log_;
};

class RunnerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TagDbReset();
    ASSERT_EQ(mkdir(dir_.File("ports").c_str(), 0755), 0);
    ASSERT_EQ(symlink(pty_.slave().c_str(), dir_.File("ports/com1").c_str()), 0);
    ASSERT_EQ(setenv("VELDRANE_PORTS", dir_.File("ports").c_str(), 1), 0);
    config_ = dir_.File("line.cfg");
    WriteFile(config_, FileBytes({{"A", "", 1, 1, 0, "L1"}}, Port()));
  }
  void TearDown() override { TagDbReset(); }

  // A run of `seconds` with the fake input and the recording output.
  int Run(std::unique_ptr<FakeInput> input, std::vector<std::string> configs,
          const std::string& driver, std::unique_ptr<host::Runner>* kept = nullptr) {
    host::StopControl control{&stop_, [this] { stop_.store(true); }, [] {}};
    auto runner = std::make_unique<host::Runner>(
        host::RunnerSettings{std::move(configs), driver, "", 0.8}, control,
        [this](const std::string& text) { said_ += text + "\n"; });
    runner->AddInput(std::move(input));
    runner->AddOutput(std::make_unique<RecordingOutput>(&output_));
    int status = runner->Run();
    if (kept) *kept = std::move(runner);
    return status;
  }

  TempDir dir_;
  TestPty pty_;
  std::string config_;
  std::atomic<bool> stop_{false};
  std::string said_;
  InputLog input_;
  OutputLog output_;
};

TEST_F(RunnerTest, ValuesFromAnInputReachTheStationsAndTheOutputsUntilTheEnd) {
  auto input = std::make_unique<FakeInput>(
      Values{{"L1", 12.5}, {"NOPE", 1}, {"L1", NAN}, {"L1", INFINITY}}, &input_);
  std::unique_ptr<host::Runner> runner;
  EXPECT_EQ(Run(std::move(input), {config_}, VELDRANE_SO, &runner), host::kOk) << said_;

  using R = ValueSink::Result;
  EXPECT_EQ(input_.results,
            (std::vector<R>{R::kSet, R::kUnknownTag, R::kNotFinite, R::kNotFinite}));
  double value = 0;
  ASSERT_TRUE(runner->LastValue("L1", &value));
  EXPECT_EQ(value, 12.5);  // the refused values changed nothing
  EXPECT_FALSE(runner->LastValue("NOPE", &value));
  // The input's counts as the outputs see them.
  ASSERT_EQ(output_.inputs.size(), 1u);
  EXPECT_EQ(output_.inputs[0].values, 1u);
  EXPECT_EQ(output_.inputs[0].refused, 3u);
  // A quarter second apart for 0.8 s, the stations read each time the output asked.
  EXPECT_GE(output_.updates, 3);
  EXPECT_GE(output_.details, 2);
  EXPECT_GE(input_.polls, output_.updates);
  // The end in order: the input stopped, the lines stopped and shown as they ended, once.
  EXPECT_EQ(input_.stops, 1);
  EXPECT_TRUE(output_.stopping);
  EXPECT_TRUE(output_.finished);
  EXPECT_EQ(output_.final_states, std::vector<LineState>{LineState::kStopped});
  EXPECT_TRUE(output_.final_had_value);
  EXPECT_EQ(output_.final_value, 12.5);
  EXPECT_EQ(output_.stops, 1);
  // Event-log lines counted from 1 in the order they came.
  for (size_t i = 0; i < output_.event_sequences.size(); ++i)
    EXPECT_EQ(output_.event_sequences[i], i + 1);
}

TEST_F(RunnerTest, WhatCannotStartEndsTheRunWithItsStatus) {
  struct Case {
    const char* name;
    const char* refuse;
    bool config_exists;
    bool driver_exists;
    int status;
    const char* said;
    bool lines_ran;
  };
  const Case cases[] = {
      // Refused before the driver loads: a driver that is not there is never looked for.
      {"check", "check", true, false, host::kUsage, "fake: refused at check", false},
      {"no driver", "", true, false, host::kNoDriver, "", false},
      {"no configuration", "", false, true, host::kFileNotOpened, "could not open", false},
      // Refused once the lines run: they stop at once and the statistics still come.
      {"start", "start", true, true, host::kUsage, "fake: refused at start", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    said_.clear();
    stop_.store(false);
    input_ = InputLog();
    output_.finished = false;
    output_.stops = 0;
    output_.updates = 0;
    auto input = std::make_unique<FakeInput>(Values{}, &input_);
    input->refuse = c.refuse;
    const std::string config = c.config_exists ? config_ : dir_.File("none.cfg");
    EXPECT_EQ(Run(std::move(input), {config}, c.driver_exists ? VELDRANE_SO : dir_.File("none.so")),
              c.status);
    EXPECT_NE(said_.find(c.said), std::string::npos) << said_;
    EXPECT_EQ(output_.finished, c.lines_ran);
    EXPECT_EQ(output_.updates, 0);  // no turn of the loop
    EXPECT_EQ(input_.stops, 0);     // never started
    EXPECT_EQ(output_.stops, 0);
  }
}

}  // namespace
}  // namespace veldrane::test
