#include "host/runner/web/web_service.h"

#include <microhttpd.h>

#include "host/runner/web/metrics_text.h"
#include "host/runner/web/status_json.h"
#include "host/runner/web/web_assets.h"

namespace veldrane::host {
namespace {

constexpr char kValuesPath[] = "/api/values/";

HttpResponse Text(std::string body, const char* type) {
  HttpResponse response;
  response.type = type;
  response.body = std::move(body);
  return response;
}

bool IsKnownPath(const std::string& path) {
  return path == "/api/stream" || path == "/api/status" || path == "/api/events" ||
         path == "/metrics" || path == "/healthz" || FindWebAsset(path) != nullptr;
}

}  // namespace

bool BearerMatches(const std::string& authorization, const std::string& token) {
  static const std::string kScheme = "Bearer ";
  if (token.empty() || authorization.size() < kScheme.size() ||
      authorization.compare(0, kScheme.size(), kScheme) != 0) {
    return false;
  }
  const std::string given = authorization.substr(kScheme.size());
  // Every byte of the longer one is looked at whatever matched before.
  size_t n = std::max(given.size(), token.size());
  unsigned diff = given.size() == token.size() ? 0 : 1;
  for (size_t i = 0; i < n; ++i) {
    unsigned char a = i < given.size() ? static_cast<unsigned char>(given[i]) : 0;
    unsigned char b = i < token.size() ? static_cast<unsigned char>(token[i]) : 0;
    diff |= static_cast<unsigned>(a ^ b);
  }
  return diff == 0;
}

WebService::WebService(WebOptions options, HttpLimits limits)
    : options_(std::move(options)),
      streams_(kMaxStreams, kMaxQueued),
      server_([this](const HttpRequest& request) { return Handle(request); }, limits) {}

bool WebService::Start(std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (started_) return true;
  started_ = server_.Start(options_, error);
  return started_;
}

void WebService::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!started_) return;
    started_ = false;
    values_ = nullptr;
  }
  // Suspended streams must be resumed to end.
  streams_.CloseAll();
  server_.Stop();
}

void WebService::Publish(std::shared_ptr<const Snapshot> snapshot) {
  streams_.Publish([&]() -> SharedText {
    std::lock_guard<std::mutex> lock(mutex_);
    snapshot_ = snapshot;
    documents_ = {};
    return std::make_shared<const std::string>(SseEvent("delta", StatusDelta(*snapshot)));
  });
}

void WebService::KeepAlive() {
  static const SharedText kComment = std::make_shared<const std::string>(": keep-alive\n\n");
  streams_.Broadcast(kComment);
}

void WebService::AddEvent(const EventEntry& event) {
  streams_.Publish([&]() -> SharedText {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(event);
    if (events_.size() > kKeptEvents) events_.pop_front();
    if (event.level >= 0 && event.level < 3) ++event_counts_[static_cast<size_t>(event.level)];
    return std::make_shared<const std::string>(SseEvent("log", EventJson(event)));
  });
}

void WebService::SetValueHandler(ValueHandler handler) {
  std::lock_guard<std::mutex> lock(mutex_);
  values_ = std::move(handler);
}

HttpResponse WebService::Handle(const HttpRequest& request) {
  const std::string& path = request.path;
  if (path.rfind(kValuesPath, 0) == 0) {
    if (request.method == "PUT") return PutValue(request);
    HttpResponse response = ErrorResponse(MHD_HTTP_METHOD_NOT_ALLOWED, "values are set with PUT");
    response.headers.emplace_back("Allow", "PUT");
    return response;
  }
  if (request.method != "GET") {
    HttpResponse response =
        ErrorResponse(IsKnownPath(path) ? MHD_HTTP_METHOD_NOT_ALLOWED : MHD_HTTP_NOT_FOUND,
                      IsKnownPath(path) ? "only GET is served here" : "no such page");
    if (IsKnownPath(path)) response.headers.emplace_back("Allow", "GET");
    return response;
  }
  if (path == "/api/status") return Status();
  if (path == "/api/stream") return Stream(request);
  if (path == "/metrics") return Metrics();
  if (path == "/healthz") return Text("ok\n", "text/plain; charset=utf-8");
  if (path == "/api/events") {
    std::lock_guard<std::mutex> lock(mutex_);
    return Text(EventsDocument(events_), "application/json");
  }
  if (const WebAsset* asset = FindWebAsset(path)) {
    HttpResponse response = Text(asset->body, asset->type);
    response.live = false;
    return response;
  }
  return ErrorResponse(MHD_HTTP_NOT_FOUND, "no such page");
}

WebService::Documents WebService::CurrentDocuments() {
  std::shared_ptr<const Snapshot> snapshot;
  Documents documents;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    snapshot = snapshot_;
    documents = documents_;
  }
  if (!snapshot || documents.json) return documents;
  // Made outside the lock: the runner's thread never waits for it.
  auto json = std::make_shared<const std::string>(StatusDocument(*snapshot));
  documents = {json, std::make_shared<const std::string>(SseEvent("status", *json))};
  std::lock_guard<std::mutex> lock(mutex_);
  if (snapshot_ == snapshot) documents_ = documents;
  return documents;
}

HttpResponse WebService::Status() {
  Documents documents = CurrentDocuments();
  if (!documents.json) {
    return ErrorResponse(MHD_HTTP_SERVICE_UNAVAILABLE, "the runner is starting");
  }
  return Text(*documents.json, "application/json");
}

std::vector<SharedText> WebService::FirstStreamEvents() {
  static const SharedText kRetry = std::make_shared<const std::string>("retry: 2000\n\n");
  std::vector<SharedText> first{kRetry};
  // Under the streams' lock: no snapshot is published meanwhile.
  if (SharedText event = CurrentDocuments().event) first.push_back(event);
  std::lock_guard<std::mutex> lock(mutex_);
  first.push_back(std::make_shared<const std::string>(SseEvent("events", EventsDocument(events_))));
  return first;
}

HttpResponse WebService::Stream(const HttpRequest& request) {
  auto client = streams_.Open(request.suspend, request.resume, [&] { return FirstStreamEvents(); });
  if (!client) {
    HttpResponse response =
        ErrorResponse(MHD_HTTP_SERVICE_UNAVAILABLE, "too many live pages open; try again later");
    response.headers.emplace_back("Retry-After", "5");
    return response;
  }
  HttpResponse response;
  response.type = "text/event-stream; charset=utf-8";
  response.headers.emplace_back("X-Accel-Buffering", "no");  // a proxy passes each event on
  response.stream = std::move(client);
  return response;
}

HttpResponse WebService::Metrics() {
  std::shared_ptr<const Snapshot> snapshot;
  ServerFigures figures;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    snapshot = snapshot_;
    figures.events = event_counts_;
  }
  figures.stream_clients = streams_.size();
  Snapshot empty;
  return Text(MetricsText(snapshot ? *snapshot : empty, figures, ReadProcessFigures()),
              "text/plain; version=0.0.4; charset=utf-8");
}

HttpResponse WebService::PutValue(const HttpRequest& request) {
  if (options_.token.empty()) {
    return ErrorResponse(MHD_HTTP_FORBIDDEN,
                         "values over HTTP are off: the runner was started without --http-token");
  }
  if (!BearerMatches(request.authorization, options_.token)) {
    HttpResponse response =
        ErrorResponse(MHD_HTTP_UNAUTHORIZED, "give the token as 'Authorization: Bearer TOKEN'");
    response.headers.emplace_back("WWW-Authenticate", "Bearer realm=\"veldrane\"");
    return response;
  }
  ValueHandler handler;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    handler = values_;
  }
  if (!handler) return ErrorResponse(MHD_HTTP_SERVICE_UNAVAILABLE, "values are not taken now");
  return handler(request.path.substr(sizeof kValuesPath - 1), request.body);
}

}  // namespace veldrane::host
