// The meter as a device server: a listening socket, one client at a time, the line's bytes read
// from it; with RFC 2217 the Telnet options answered and the client's line settings taken.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/net/net_address.h"
#include "platform/net/telnet_codec.h"
#include "platform/text/display_text.h"
#include "tools/meter/com_port_server.h"
#include "tools/meter/meter_line.h"

namespace veldrane::meter {
namespace {

namespace tn = platform::telnet;

// "127.0.0.1:50412", "[::1]:50412".
std::string PeerText(const sockaddr_storage& peer) {
  char host[INET6_ADDRSTRLEN] = "?";
  uint16_t port = 0;
  if (peer.ss_family == AF_INET6) {
    const auto& a = reinterpret_cast<const sockaddr_in6&>(peer);
    inet_ntop(AF_INET6, &a.sin6_addr, host, sizeof host);
    port = ntohs(a.sin6_port);
    return "[" + std::string(host) + "]:" + std::to_string(port);
  }
  const auto& a = reinterpret_cast<const sockaddr_in&>(peer);
  inet_ntop(AF_INET, &a.sin_addr, host, sizeof host);
  port = ntohs(a.sin_port);
  return std::string(host) + ":" + std::to_string(port);
}

class NetListenLine final : public MeterLine {
 public:
  NetListenLine(const platform::NetAddress& address, const LineSettings& settings)
      : rfc2217_(address.protocol == platform::NetProtocol::kRfc2217),
        settings_(settings),
        server_(settings) {
    name_ = platform::NetAddressText(address);
  }
  ~NetListenLine() override {
    Drop();
    if (listen_fd_ >= 0) close(listen_fd_);
  }

  bool Bind(const platform::NetAddress& address, std::string* error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* list = nullptr;
    const std::string service = std::to_string(address.port);
    if (int rc = getaddrinfo(address.host.c_str(), service.c_str(), &hints, &list); rc != 0) {
      *error = "cannot listen on " + name_ + ": " +
               (rc == EAI_NONAME || rc == EAI_NODATA || rc == EAI_FAIL
                    ? "the host name " + address.host + " does not resolve"
                    : std::string(gai_strerror(rc)));
      return false;
    }
    int bind_error = 0;
    for (addrinfo* a = list; a && listen_fd_ < 0; a = a->ai_next) {
      int fd = socket(a->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
      if (fd < 0) {
        bind_error = errno;
        continue;
      }
      int on = 1;
      setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
      if (bind(fd, a->ai_addr, a->ai_addrlen) == 0 && listen(fd, 4) == 0) {
        listen_fd_ = fd;
      } else {
        bind_error = errno;
        close(fd);
      }
    }
    freeaddrinfo(list);
    if (listen_fd_ >= 0) return true;
    std::string cause = std::strerror(bind_error);
    if (bind_error == EADDRINUSE) {
      cause = "the port " + std::to_string(address.port) + " is in use (another program listens)";
    } else if (bind_error == EADDRNOTAVAIL) {
      cause = address.host + " is no address of this machine";
    } else if (bind_error == EACCES) {
      cause = "ports below 1024 need root";
    }
    *error = "cannot listen on " + name_ + ": " + cause;
    return false;
  }

  long Read(uint8_t* buffer, size_t size, int timeout_ms, std::string* error) override {
    pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {client_fd_, POLLIN, 0}};
    int ready = poll(fds, client_fd_ >= 0 ? 2 : 1, timeout_ms);
    if (ready < 0) {
      if (errno == EINTR) return 0;
      *error = std::string("poll: ") + std::strerror(errno);
      return -1;
    }
    if (fds[0].revents & POLLIN) Accept();
    if (client_fd_ < 0 || !(fds[1].revents & (POLLIN | POLLHUP | POLLERR))) return 0;
    std::vector<uint8_t> raw(size);
    ssize_t n = recv(client_fd_, raw.data(), raw.size(), MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
    if (n <= 0) {
      Notice("the connection from " + peer_ +
             (n == 0 ? " closed" : " failed: " + std::string(std::strerror(errno))));
      Drop();
      return 0;
    }
    if (!rfc2217_) {
      std::memcpy(buffer, raw.data(), static_cast<size_t>(n));
      return n;
    }
    return Interpret(raw.data(), static_cast<size_t>(n), buffer);
  }

 private:
  void Accept() {
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    int fd = accept4(listen_fd_, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
    if (fd < 0) return;
    std::string text = "connection from " + PeerText(peer);
    if (client_fd_ >= 0) text += " (replaces the one from " + peer_ + ")";
    Drop();
    client_fd_ = fd;
    peer_ = PeerText(peer);
    reader_ = tn::Reader();
    negotiator_ = tn::Negotiator({tn::kBinary, tn::kSuppressGoAhead},
                                 {tn::kBinary, tn::kSuppressGoAhead, tn::kComPortOption});
    server_ = ComPortServer(settings_);
    Notice(text);
  }

  void Drop() {
    if (client_fd_ >= 0) close(client_fd_);
    client_fd_ = -1;
  }

  // The line's bytes into `buffer` (never more than came in); options and COM-PORT-OPTION
  // commands answered.
  long Interpret(const uint8_t* bytes, size_t length, uint8_t* buffer) {
    events_.clear();
    reader_.Feed(bytes, length, &events_);
    tn::Bytes answers;
    size_t count = 0;
    bool settings_changed = false;
    for (const tn::Event& e : events_) {
      if (e.kind == tn::Event::Kind::kData) {
        std::memcpy(buffer + count, e.bytes.data(), e.bytes.size());
        count += e.bytes.size();
      } else if (e.kind == tn::Event::Kind::kOption) {
        negotiator_.Answer(e.verb, e.option, &answers);
      } else if (e.option == tn::kComPortOption && server_.Handle(e.bytes, &answers)) {
        settings_changed = true;
      }
    }
    // Once for what came together (a client sets baud, size, parity and stop bits in a row).
    if (settings_changed) {
      Notice("line settings " + DescribeLine(server_.line()) + " (set by " + peer_ + ")");
    }
    // A client that does not read its answers loses them: the line's bytes matter here.
    if (!answers.empty())
      send(client_fd_, answers.data(), answers.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    return static_cast<long>(count);
  }

  const bool rfc2217_;
  const LineSettings settings_;  // as the meter was started; each client starts from them
  int listen_fd_ = -1;
  int client_fd_ = -1;
  std::string peer_;
  tn::Reader reader_;
  tn::Negotiator negotiator_{{}, {}};
  ComPortServer server_;
  std::vector<tn::Event> events_;
};

}  // namespace

std::unique_ptr<MeterLine> MeterLine::Listen(const std::string& address,
                                             const LineSettings& settings, std::string* error) {
  platform::NetAddress parsed;
  std::string why;
  if (!platform::ParseNetAddress(address, &parsed, &why)) {
    *error = "cannot listen on " + platform::EscapeControls(address) + ": " +
             platform::EscapeControls(why);
    return nullptr;
  }
  auto line = std::make_unique<NetListenLine>(parsed, settings);
  if (!line->Bind(parsed, error)) return nullptr;
  return line;
}

}  // namespace veldrane::meter
