// Tag values from messages on the value topics.
#pragma once

#include <functional>
#include <set>
#include <string>
#include <string_view>

#include "host/runner/mqtt/mqtt_topics.h"

namespace veldrane::host {

class MqttValues {
 public:
  // apply(tag, value) sets a tag (code page 949 name); report(text) tells the user.
  using Apply = std::function<void(const std::string& tag, double value)>;
  using Report = std::function<void(const std::string& text)>;

  MqttValues(ValueTopics topics, Apply apply, Report report)
      : topics_(std::move(topics)), apply_(std::move(apply)), report_(std::move(report)) {}

  const ValueTopics& topics() const { return topics_; }

  // One message, on the link's thread. A payload that is no value is reported with its topic, once
  // per topic (a publisher that keeps sending it would flood the log), and changes nothing.
  void OnMessage(const std::string& topic, std::string_view payload);

 private:
  ValueTopics topics_;
  Apply apply_;
  Report report_;
  std::set<std::string> reported_;
};

}  // namespace veldrane::host
