// The value input of --values: 'TAG VALUE' lines from a file, standard input ('-') or a channel
// that scripts write to whenever they like, read on a thread of its own.
#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "host/runner/gateway/value_input.h"

namespace veldrane::host {

class ValueFileInput final : public ValueInput {
 public:
  explicit ValueFileInput(std::string path) : path_(std::move(path)) {}
  ~ValueFileInput() override;

  std::string Name() const override { return "values"; }
  bool Check(std::string* error) override;
  bool Start(ValueSink* sink, std::string* error) override;
  void Stop() override;
  InputHealth Health() const override;

 private:
  std::string path_;
  std::atomic<bool> stop_{false};
  enum class State { kNotStarted, kReading, kDone };
  std::atomic<State> state_{State::kNotStarted};
  std::thread reader_;
};

}  // namespace veldrane::host
