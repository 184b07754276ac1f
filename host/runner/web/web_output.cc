#include "host/runner/web/web_output.h"

#include <microhttpd.h>

#include <nlohmann/json.hpp>

#include "host/runner/mqtt/mqtt_payload.h"
#include "platform/text/cp949.h"
#include "platform/text/display_text.h"

namespace veldrane::host {

void WebOutput::Update(const GatewayView& view, std::chrono::steady_clock::time_point now) {
  if (auto snapshot = builder_.Build(view, now)) service_->Publish(std::move(snapshot));
  if (now >= next_keep_alive_) {
    if (next_keep_alive_ != std::chrono::steady_clock::time_point{}) service_->KeepAlive();
    next_keep_alive_ = now + std::chrono::seconds(15);
  }
}

void WebOutput::Finish(const GatewayView& view) {
  if (auto snapshot = builder_.Build(view, std::chrono::steady_clock::now())) {
    service_->Publish(std::move(snapshot));
  }
}

bool HttpValuesInput::Start(ValueSink* sink, std::string* error) {
  sink_ = sink;
  if (!service_->Start(error)) return false;
  service_->SetValueHandler(
      [this](const std::string& tag, const std::string& body) { return Put(tag, body); });
  return true;
}

HttpResponse HttpValuesInput::Put(const std::string& tag, const std::string& body) {
  std::string cp949;
  size_t bad_at = 0;
  Payload payload = ParsePayload(body);
  int status = MHD_HTTP_OK;
  std::string error;
  bool reached_sink = false;
  if (tag.empty() || !platform::Utf8ToCp949Exact(tag.data(), tag.size(), &cp949, &bad_at)) {
    status = MHD_HTTP_NOT_FOUND;
    error = "no station shows the tag '" + platform::DisplayInput(tag) + "'";
  } else if (!payload.ok) {
    status = payload.not_finite ? MHD_HTTP_UNPROCESSABLE_CONTENT : MHD_HTTP_BAD_REQUEST;
    error = payload.not_finite ? "no meter can show " + platform::Excerpt(body) : payload.error;
  } else {
    reached_sink = true;
    switch (sink_->SetValue(cp949, payload.value, Name())) {
      case ValueSink::Result::kSet:
        break;
      case ValueSink::Result::kUnknownTag:
        status = MHD_HTTP_NOT_FOUND;
        error = "no station shows the tag '" + platform::DisplayInput(tag) + "'";
        break;
      case ValueSink::Result::kNotFinite:
        status = MHD_HTTP_UNPROCESSABLE_CONTENT;
        error = "no meter can show " + platform::Excerpt(body);
        break;
    }
  }
  if (status != MHD_HTTP_OK) {
    // The runner counts what its sink refused (an unknown tag, a value no meter can show).
    if (!reached_sink) refused_.fetch_add(1);
    return ErrorResponse(status, error);
  }
  nlohmann::json json;
  json["tag"] = tag;
  json["value"] = payload.value;
  HttpResponse response;
  response.body = json.dump();
  return response;
}

InputHealth HttpValuesInput::Health() const {
  InputHealth health;
  health.name = Name();
  const WebOptions& options = service_->options();
  health.ok = !options.token.empty();
  health.detail =
      health.ok ? "PUT /api/values/TAG on " + options.listen : "off: no --http-token was given";
  health.refused = refused_.load();
  return health;
}

WebParts MakeWeb(const WebOptions& options) {
  auto service = std::make_shared<WebService>(options);
  return {std::make_unique<WebOutput>(service), std::make_unique<HttpValuesInput>(service)};
}

}  // namespace veldrane::host
