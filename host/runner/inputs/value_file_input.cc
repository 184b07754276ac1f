#include "host/runner/inputs/value_file_input.h"

#include "host/runner/inputs/value_reader.h"
#include "platform/text/display_text.h"

namespace veldrane::host {

ValueFileInput::~ValueFileInput() {
  Stop();
}

bool ValueFileInput::Check(std::string* error) {
  if (CheckValueSource(path_, error)) return true;
  *error = "--values: " + *error;
  return false;
}

bool ValueFileInput::Start(ValueSink* sink, std::string*) {
  state_.store(State::kReading);
  reader_ = std::thread([this, sink] {
    ReadValueFile(path_, stop_, [&](const std::string& tag, double value) {
      return sink->SetValue(tag, value, Name());
    });
    state_.store(State::kDone);
  });
  return true;
}

void ValueFileInput::Stop() {
  stop_.store(true);
  if (reader_.joinable()) reader_.join();
}

InputHealth ValueFileInput::Health() const {
  InputHealth health;
  health.name = Name();
  const State state = state_.load();
  health.ok = state == State::kReading;
  health.detail = (state == State::kNotStarted ? "to read "
                   : health.ok                 ? "reading "
                                               : "done reading ") +
                  platform::DisplayInput(path_);
  return health;
}

}  // namespace veldrane::host
