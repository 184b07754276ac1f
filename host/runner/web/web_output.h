// The web page, the JSON and the metrics as one status output of the runner, and the values over
// HTTP as one value input; both on the one server that MakeWeb (web_parts.h) builds.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include "host/runner/gateway/status_output.h"
#include "host/runner/gateway/value_input.h"
#include "host/runner/web/status_snapshot.h"
#include "host/runner/web/web_options.h"
#include "host/runner/web/web_parts.h"
#include "host/runner/web/web_service.h"

namespace veldrane::host {

class WebOutput : public StatusOutput {
 public:
  explicit WebOutput(std::shared_ptr<WebService> service) : service_(std::move(service)) {}
  std::string Name() const override { return "web"; }
  // The server listens before any line starts: an address it cannot have ends the run there.
  bool Prepare(const std::vector<RunLine>&, std::string* error) override {
    return service_->Start(error);
  }
  bool Start(std::string* error) override { return service_->Start(error); }
  // Twice a second: a change reaches the page within a second.
  std::chrono::milliseconds DetailsEvery() const override { return std::chrono::milliseconds(500); }
  void Update(const GatewayView& view, std::chrono::steady_clock::time_point now) override;
  void OnEvent(const EventEntry& event) override { service_->AddEvent(event); }
  void Finish(const GatewayView& view) override;
  void Stop() override { service_->Stop(); }

 private:
  std::shared_ptr<WebService> service_;
  SnapshotBuilder builder_;
  std::chrono::steady_clock::time_point next_keep_alive_{};
};

class HttpValuesInput : public ValueInput {
 public:
  explicit HttpValuesInput(std::shared_ptr<WebService> service) : service_(std::move(service)) {}
  ~HttpValuesInput() override { service_->SetValueHandler(nullptr); }
  std::string Name() const override { return "http"; }
  bool Start(ValueSink* sink, std::string* error) override;
  void Stop() override { service_->SetValueHandler(nullptr); }
  InputHealth Health() const override;

 private:
  HttpResponse Put(const std::string& tag, const std::string& body);

  std::shared_ptr<WebService> service_;
  ValueSink* sink_ = nullptr;
  std::atomic<uint64_t> refused_{0};  // requests that never reached the sink
};

}  // namespace veldrane::host
