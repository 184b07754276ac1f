#include "host/runner/mqtt/mqtt_values.h"

#include "host/runner/mqtt/mqtt_payload.h"
#include "platform/text/display_text.h"

namespace veldrane::host {

void MqttValues::OnMessage(const std::string& topic, std::string_view payload) {
  const std::vector<std::string>* tags = topics_.TagsOf(topic);
  if (tags == nullptr) return;  // not ours: only our topics are subscribed
  Payload parsed = ParsePayload(payload);
  if (parsed.ok) {
    for (const std::string& tag : *tags) apply_(tag, parsed.value);
    return;
  }
  if (!reported_.insert(topic).second) return;
  report_("MQTT " + platform::Excerpt(topic, 200) + ": the payload '" + platform::Excerpt(payload) +
          "' is " + parsed.error + " (ignored; later ones on this topic are not reported)");
}

}  // namespace veldrane::host
