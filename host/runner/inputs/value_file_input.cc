#include "host/runner/inputs/value_file_input.h"

#include "host/runner/inputs/value_reader.h"
#include "platform/display_text.h"

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
  reading_.store(true);
  reader_ = std::thread([this, sink] {
    ReadValueFile(path_, stop_, [&](const std::string& tag, double value) {
      return sink->SetValue(tag, value, Name());
    });
    reading_.store(false);
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
  health.ok = reading_.load();
  health.detail = (health.ok ? "reading " : "done reading ") + platform::DisplayInput(path_);
  return health;
}

}  // namespace veldrane::host
