// The web server's one object, which the web status output and the HTTP value input share: the
// latest snapshot, the event log's latest lines, the event streams and the routes.
//
//   GET /              the live page (and /style.css, /app.js, /icon.svg)
//   GET /api/stream    Server-Sent Events: "status" (all), then "delta", "events" and "log"
//   GET /api/status    every line and station as JSON
//   GET /api/events    the event log's latest lines, newest first
//   GET /metrics       Prometheus text format
//   GET /healthz       "ok"
//   PUT /api/values/TAG  a number or {"value": N}, with Authorization: Bearer TOKEN
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "host/runner/gateway/status_output.h"
#include "host/runner/web/event_stream.h"
#include "host/runner/web/http_server.h"
#include "host/runner/web/status_snapshot.h"
#include "host/runner/web/web_options.h"

namespace veldrane::host {

class WebService {
 public:
  // Event-log lines kept for /api/events and a new page.
  static constexpr size_t kKeptEvents = 200;
  static constexpr size_t kMaxStreams = 256;
  // Unread bytes a stream may hold before it is closed (its browser reconnects afresh). The
  // texts are shared by every stream: what a stream holds is the events since it last read.
  static constexpr size_t kMaxQueued = 4 * 1024 * 1024;

  explicit WebService(WebOptions options, HttpLimits limits = {});
  ~WebService() { Stop(); }

  // Starts the server once, whichever of its users asks first; false with the reason.
  bool Start(std::string* error);
  // Ends the streams and the server; the second call does nothing.
  void Stop();
  const WebOptions& options() const { return options_; }

  // The runner's thread: a new snapshot for every request and stream.
  void Publish(std::shared_ptr<const Snapshot> snapshot);
  // A comment line on every stream, so that proxies keep it and dead clients are found.
  void KeepAlive();
  // The driver's thread: an event-log line.
  void AddEvent(const EventEntry& event);

  // What PUT /api/values/TAG does once the token is checked: the tag in UTF-8 and the body.
  using ValueHandler = std::function<HttpResponse(const std::string& tag, const std::string& body)>;
  // Null: values are not taken now (503).
  void SetValueHandler(ValueHandler handler);

  // Any request, on the server's thread (public for the tests).
  HttpResponse Handle(const HttpRequest& request);

 private:
  // The snapshot's status document and its event for the streams, made once per snapshot.
  struct Documents {
    SharedText json, event;
  };
  Documents CurrentDocuments();
  HttpResponse Status();
  HttpResponse Stream(const HttpRequest& request);
  HttpResponse Metrics();
  HttpResponse PutValue(const HttpRequest& request);
  std::vector<SharedText> FirstStreamEvents();

  const WebOptions options_;
  EventStreams streams_;
  HttpServer server_;
  std::mutex mutex_;  // guards everything below
  bool started_ = false;
  std::shared_ptr<const Snapshot> snapshot_;
  Documents documents_;  // of snapshot_, made at the first request
  std::deque<EventEntry> events_;
  std::array<uint64_t, 3> event_counts_{};
  ValueHandler values_;
};

// Whether `authorization` is "Bearer TOKEN" with TOKEN equal to `token`, in a time that does not
// tell how much of it matched.
bool BearerMatches(const std::string& authorization, const std::string& token);

}  // namespace veldrane::host
