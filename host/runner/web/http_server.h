// The web server over libmicrohttpd: one thread, bounded in connections (in all and per
// address), in time to send a request, in memory per connection and in request bodies; the
// headers every answer carries; the event streams that wait suspended until they have news.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/runner/web/event_stream.h"
#include "host/runner/web/web_options.h"

struct MHD_Daemon;

namespace veldrane::host {

struct HttpLimits {
  unsigned connections = 512;            // at once, in all
  unsigned per_address = 256;            // at once, from one client address (a proxy is one)
  unsigned timeout_seconds = 10;         // a connection silent this long is closed
  size_t connection_memory = 32 * 1024;  // a request's headers must fit in it
  size_t max_body = 4096;                // a larger body is answered 413 unread
};

struct HttpRequest {
  std::string method;
  std::string path;  // decoded, without the query
  std::string body;
  std::string authorization;  // the Authorization header, or empty
  // For an event stream: stop asking the stream / ask it again (see StreamClient).
  std::function<void()> suspend, resume;
};

struct HttpResponse {
  int status = 200;
  std::string type = "application/json";
  std::string body;
  bool live = true;  // live data: never cached
  std::vector<std::pair<std::string, std::string>> headers;
  std::shared_ptr<StreamClient> stream;  // set: the answer is this event stream, not `body`
};

class HttpServer {
 public:
  using Handler = std::function<HttpResponse(const HttpRequest&)>;

  HttpServer(Handler handler, HttpLimits limits) : handler_(std::move(handler)), limits_(limits) {}
  ~HttpServer() { Stop(); }
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Listens on the options' address; false with the reason.
  bool Start(const WebOptions& options, std::string* error);
  // Closes every connection and ends the server's thread. The event streams must be ended
  // first (EventStreams::CloseAll): a suspended stream ends only once resumed.
  void Stop();
  const HttpLimits& limits() const { return limits_; }

  // The libmicrohttpd callbacks' ways in.
  bool Allowed(const void* address, unsigned length) const;
  const Handler& handler() const { return handler_; }

 private:
  Handler handler_;
  HttpLimits limits_;
  std::vector<AddressBlock> allow_;
  MHD_Daemon* daemon_ = nullptr;
};

// Text for the answers with no body of their own: {"error":"..."}.
HttpResponse ErrorResponse(int status, const std::string& message);

}  // namespace veldrane::host
