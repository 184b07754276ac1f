#include "host/runner/web/http_server.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>

#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>

namespace veldrane::host {
namespace {

// Every answer: only the runner's own origin may provide anything the page uses, nothing is
// guessed from content, and the page is never framed by another site.
const char* const kSecurityHeaders[][2] = {
    {"Content-Security-Policy",
     "default-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'"},
    {"X-Content-Type-Options", "nosniff"},
    {"X-Frame-Options", "DENY"},
    {"Referrer-Policy", "no-referrer"},
};

// What one request gathers over the callback's calls.
struct Pending {
  std::string body;
  bool too_large = false;
};

// The stream's reader and its owner, for the response's callbacks.
struct StreamHolder {
  std::shared_ptr<StreamClient> client;
};

ssize_t ReadStream(void* cls, uint64_t, char* out, size_t max) {
  long n = static_cast<StreamHolder*>(cls)->client->Read(out, max);
  return n < 0 ? MHD_CONTENT_READER_END_OF_STREAM : static_cast<ssize_t>(n);
}

void FreeStream(void* cls) {
  // Owned by the response since Queue, which gives it back here.
  std::unique_ptr<StreamHolder> holder(static_cast<StreamHolder*>(cls));
  holder->client->Gone();
}

MHD_Result Queue(MHD_Connection* connection, const HttpResponse& answer) {
  MHD_Response* response = nullptr;
  if (answer.stream) {
    auto holder = std::make_unique<StreamHolder>(StreamHolder{answer.stream});
    response = MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 16 * 1024, &ReadStream,
                                                 holder.get(), &FreeStream);
    if (response) holder.release();  // the response frees it (FreeStream)
  } else {
    response = MHD_create_response_from_buffer(
        answer.body.size(), const_cast<char*>(answer.body.data()), MHD_RESPMEM_MUST_COPY);
  }
  if (!response) return MHD_NO;
  for (const auto& header : kSecurityHeaders)
    MHD_add_response_header(response, header[0], header[1]);
  MHD_add_response_header(response, "Content-Type", answer.type.c_str());
  MHD_add_response_header(response, "Cache-Control", answer.live ? "no-store" : "no-cache");
  for (const auto& [name, value] : answer.headers) {
    MHD_add_response_header(response, name.c_str(), value.c_str());
  }
  MHD_Result result =
      MHD_queue_response(connection, static_cast<unsigned>(answer.status), response);
  MHD_destroy_response(response);
  return result;
}

const char* Header(MHD_Connection* connection, const char* name) {
  const char* value = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, name);
  return value ? value : "";
}

MHD_Result Answer(void* cls, MHD_Connection* connection, const char* url, const char* method,
                  const char*, const char* upload, size_t* upload_size, void** state) {
  auto* server = static_cast<HttpServer*>(cls);
  auto* pending = static_cast<Pending*>(*state);
  if (!pending) {
    *state = std::make_unique<Pending>().release();  // Completed frees it
    // A body announced larger than allowed is refused before any of it is read.
    const char* length = Header(connection, MHD_HTTP_HEADER_CONTENT_LENGTH);
    if (*length && std::strtoull(length, nullptr, 10) > server->limits().max_body) {
      return Queue(connection, ErrorResponse(MHD_HTTP_CONTENT_TOO_LARGE,
                                             "the request body is larger than 4096 bytes"));
    }
    return MHD_YES;
  }
  if (*upload_size > 0) {
    if (pending->body.size() + *upload_size > server->limits().max_body) {
      pending->too_large = true;
    } else {
      pending->body.append(upload, *upload_size);
    }
    *upload_size = 0;
    return MHD_YES;
  }
  if (pending->too_large) {
    return Queue(connection, ErrorResponse(MHD_HTTP_CONTENT_TOO_LARGE,
                                           "the request body is larger than 4096 bytes"));
  }
  HttpRequest request;
  request.method = method;
  request.path = url;
  request.body = std::move(pending->body);
  request.authorization = Header(connection, MHD_HTTP_HEADER_AUTHORIZATION);
  request.suspend = [connection] { MHD_suspend_connection(connection); };
  request.resume = [connection] { MHD_resume_connection(connection); };
  return Queue(connection, server->handler()(request));
}

void Completed(void*, MHD_Connection*, void** state, MHD_RequestTerminationCode) {
  std::unique_ptr<Pending> made_by_answer(static_cast<Pending*>(*state));
  *state = nullptr;
}

MHD_Result Accept(void* cls, const sockaddr* address, socklen_t length) {
  return static_cast<HttpServer*>(cls)->Allowed(address, length) ? MHD_YES : MHD_NO;
}

}  // namespace

bool HttpServer::Allowed(const void* address, unsigned length) const {
  if (allow_.empty()) return true;
  const auto* sa = static_cast<const sockaddr*>(address);
  const uint8_t* bytes = nullptr;
  size_t size = 0;
  if (sa->sa_family == AF_INET && length >= sizeof(sockaddr_in)) {
    bytes = reinterpret_cast<const uint8_t*>(&reinterpret_cast<const sockaddr_in*>(sa)->sin_addr);
    size = 4;
  } else if (sa->sa_family == AF_INET6 && length >= sizeof(sockaddr_in6)) {
    bytes = reinterpret_cast<const uint8_t*>(&reinterpret_cast<const sockaddr_in6*>(sa)->sin6_addr);
    size = 16;
  }
  for (const AddressBlock& block : allow_) {
    if (bytes && BlockHolds(block, bytes, size)) return true;
  }
  return false;
}

bool HttpServer::Start(const WebOptions& options, std::string* error) {
  allow_ = options.allow;
  sockaddr_storage address{};
  unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME;
  auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
  if (inet_pton(AF_INET, options.host.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(static_cast<uint16_t>(options.port));
  } else if (inet_pton(AF_INET6, options.host.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(static_cast<uint16_t>(options.port));
    flags |= MHD_USE_IPv6;
  } else {
    *error = "--http: '" + options.host + "' is no IP address";
    return false;
  }
  errno = 0;
  daemon_ = MHD_start_daemon(
      flags, static_cast<uint16_t>(options.port), &Accept, this, &Answer, this,
      MHD_OPTION_SOCK_ADDR, reinterpret_cast<sockaddr*>(&address), MHD_OPTION_CONNECTION_LIMIT,
      limits_.connections, MHD_OPTION_PER_IP_CONNECTION_LIMIT, limits_.per_address,
      MHD_OPTION_CONNECTION_TIMEOUT, limits_.timeout_seconds, MHD_OPTION_CONNECTION_MEMORY_LIMIT,
      limits_.connection_memory, MHD_OPTION_NOTIFY_COMPLETED, &Completed, this, MHD_OPTION_END);
  if (!daemon_) {
    int cause = errno;
    *error = "--http: cannot listen on " + options.listen + ": " +
             (cause ? std::strerror(cause) : "the web server did not start") +
             (cause == EADDRINUSE ? " (another program serves that port: choose another)" : "");
    return false;
  }
  return true;
}

void HttpServer::Stop() {
  if (daemon_) MHD_stop_daemon(daemon_);
  daemon_ = nullptr;
}

HttpResponse ErrorResponse(int status, const std::string& message) {
  HttpResponse response;
  response.status = status;
  nlohmann::json json;
  json["error"] = message;
  response.body = json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  return response;
}

}  // namespace veldrane::host
