#include "host/runner/inputs/modbus_input.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <modbus/modbus.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>

#include "host/runner/inputs/modbus_request.h"
#include "platform/net/net_address.h"

namespace veldrane::host {

namespace {

using Clock = std::chrono::steady_clock;

struct ContextFree {
  void operator()(modbus_t* ctx) const { modbus_free(ctx); }
};
struct MappingFree {
  void operator()(modbus_mapping_t* mapping) const { modbus_mapping_free(mapping); }
};

// The length field of the request's header: the bytes after it, which libmodbus does not
// check against what it framed by the function code.
bool HeaderFits(const uint8_t* adu, int length) {
  if (length < 8) return false;
  int protocol = adu[2] << 8 | adu[3];
  int follows = adu[4] << 8 | adu[5];
  return protocol == 0 && follows == length - 6;
}

// The functions whose requests libmodbus frames by their fields; of any other it reads the
// function code only, and the rest of the request follows as its header's length says.
bool FramedByLibrary(uint8_t function) {
  return (function >= 1 && function <= 6) || function == 15 || function == 16 || function == 22 ||
         function == 23;
}

// Reads the rest of a request of a function libmodbus does not know, as long as its header
// says, within half a second; false when it does not come or does not fit.
bool ReadRest(int fd, uint8_t* adu, int* length) {
  if (*length != 8 || adu[2] != 0 || adu[3] != 0 || FramedByLibrary(adu[7])) return false;
  int total = 6 + (adu[4] << 8 | adu[5]);
  if (total < 8 || total > MODBUS_TCP_MAX_ADU_LENGTH) return false;
  while (*length < total) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 500) <= 0) return false;
    ssize_t got = ::recv(fd, adu + *length, static_cast<size_t>(total - *length), 0);
    if (got <= 0) return false;
    *length += static_cast<int>(got);
  }
  return true;
}

uint16_t BoundPort(int fd) {
  sockaddr_storage address{};
  socklen_t size = sizeof address;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) return 0;
  if (address.ss_family == AF_INET6) {
    return ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port);
  }
  return ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
}

bool PeerAllowed(const std::vector<IpNetwork>& allow, const sockaddr_storage& peer) {
  if (allow.empty()) return true;
  if (peer.ss_family == AF_INET) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(&peer);
    return NetworksAllow(allow, false, reinterpret_cast<const uint8_t*>(&in->sin_addr));
  }
  if (peer.ss_family == AF_INET6) {
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&peer);
    return NetworksAllow(allow, true, in6->sin6_addr.s6_addr);
  }
  return false;
}

std::string PeerText(const sockaddr_storage& peer) {
  char text[INET6_ADDRSTRLEN] = "?";
  if (peer.ss_family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&peer)->sin_addr, text, sizeof text);
  } else if (peer.ss_family == AF_INET6) {
    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(&peer)->sin6_addr, text,
              sizeof text);
  }
  return text;
}

}  // namespace

// What the server's thread owns; touched by Start and Stop only while that thread does not run.
struct ModbusInput::Server {
  struct Client {
    int fd;
    Clock::time_point last;  // of its last request, or its connection
  };

  std::unique_ptr<modbus_t, ContextFree> ctx;
  std::unique_ptr<modbus_mapping_t, MappingFree> mapping;
  RegisterIndex index;
  ValueSink* sink = nullptr;
  int listen_fd = -1;
  int wake[2] = {-1, -1};  // a byte on wake[1] ends the thread
  std::vector<Client> clients;
  std::set<std::string> reported;  // kinds of refusal already told

  explicit Server(const ModbusMap& map) : index(map) {}
  ~Server() {
    for (const Client& c : clients) ::close(c.fd);
    if (listen_fd >= 0) ::close(listen_fd);
    for (int fd : wake) {
      if (fd >= 0) ::close(fd);
    }
  }
};

ModbusInput::ModbusInput(ModbusServerSettings settings, ModbusMap map)
    : settings_(std::move(settings)), map_(std::move(map)) {}

ModbusInput::~ModbusInput() {
  if (thread_.joinable()) Stop();
}

bool ModbusInput::Prepare(const std::vector<RunLine>&, std::string* error) {
  return Listen(error);
}

bool ModbusInput::Listen(std::string* error) {
  if (server_) return true;
  auto server = std::make_unique<Server>(map_);
  std::string where =
      platform::NetAddressText({platform::NetProtocol::kRawTcp, settings_.host, settings_.port});
  std::string port = std::to_string(settings_.port);
  server->ctx.reset(modbus_new_tcp_pi(settings_.host.c_str(), port.c_str()));
  if (server->index.count() != 0) {
    server->mapping.reset(modbus_mapping_new_start_address(
        0, 0, 0, 0, server->index.first(), static_cast<int>(server->index.count()), 0, 0));
  }
  if (!server->ctx || !server->mapping || ::pipe2(server->wake, O_CLOEXEC) != 0) {
    *error = "--modbus: cannot set up the server: " + std::string(std::strerror(errno));
    return false;
  }
  // A request that stops halfway holds the other clients this long at most.
  modbus_set_byte_timeout(server->ctx.get(), 0, 500000);
  modbus_set_indication_timeout(server->ctx.get(), 0, 500000);
  server->listen_fd = modbus_tcp_pi_listen(server->ctx.get(), 16);
  if (server->listen_fd < 0) {
    int cause = errno;
    *error = "--modbus: cannot listen on " + where + ": " + std::strerror(cause);
    if (cause == EACCES && settings_.port < 1024) {
      *error +=
          " (a port below 1024 needs the capability CAP_NET_BIND_SERVICE; or take a "
          "higher port)";
    }
    return false;
  }
  ::fcntl(server->listen_fd, F_SETFD, FD_CLOEXEC);
  bound_port_ = BoundPort(server->listen_fd);
  server_ = std::move(server);
  return true;
}

bool ModbusInput::Start(ValueSink* sink, std::string* error) {
  if (!Listen(error)) return false;
  server_->sink = sink;
  serving_.store(true);
  thread_ = std::thread([this] { Serve(); });
  return true;
}

void ModbusInput::Stop() {
  if (!thread_.joinable()) return;
  char byte = 0;
  while (::write(server_->wake[1], &byte, 1) < 0 && errno == EINTR) {
  }
  thread_.join();
  serving_.store(false);
  clients_.store(0);
  server_.reset();
}

InputHealth ModbusInput::Health() const {
  InputHealth h;
  h.name = Name();
  h.ok = serving_.load();
  size_t clients = clients_.load();
  uint64_t writes = writes_.load();
  h.detail = platform::NetAddressText({platform::NetProtocol::kRawTcp, settings_.host,
                                       bound_port_ != 0 ? bound_port_ : settings_.port}) +
             ": " + std::to_string(clients) + (clients == 1 ? " client, " : " clients, ") +
             std::to_string(writes) + (writes == 1 ? " write" : " writes");
  h.values = values_.load();
  h.refused = refused_.load();
  return h;
}

void ModbusInput::Serve() {
  Server& s = *server_;
  auto tell = [&](const std::string& kind, const std::string& text) {
    if (settings_.log && s.reported.insert(kind).second) {
      settings_.log("Modbus: " + text + " (later ones are counted, not told)");
    }
  };
  auto close_client = [&](size_t i) {
    ::close(s.clients[i].fd);
    s.clients.erase(s.clients.begin() + static_cast<std::ptrdiff_t>(i));
    clients_.store(s.clients.size());
  };
  // One request of client i; false when the client is to be closed.
  auto serve_request = [&](size_t i) {
    uint8_t adu[MODBUS_TCP_MAX_ADU_LENGTH];
    modbus_set_socket(s.ctx.get(), s.clients[i].fd);
    int length = modbus_receive(s.ctx.get(), adu);
    if (length < 0) {
      // The peer closed, or sent a frame that is not one; errno tells which.
      if (errno != ECONNRESET) {
        refused_.fetch_add(1);
        tell("frame", "closed a client whose request was not a frame (" +
                          std::string(modbus_strerror(errno)) + ")");
      }
      return false;
    }
    if (length == 0) return true;
    if (!HeaderFits(adu, length) && !ReadRest(s.clients[i].fd, adu, &length)) {
      refused_.fetch_add(1);
      tell("header", "closed a client whose request's header does not fit its length");
      return false;
    }
    if (settings_.unit >= 0 && adu[6] != settings_.unit) return true;  // another unit's
    const int header = modbus_get_header_length(s.ctx.get());
    RequestPlan plan = PlanRequest(s.index, adu + header, static_cast<size_t>(length - header));
    if (plan.exception != 0) {
      refused_.fetch_add(1);
      return modbus_reply_exception(s.ctx.get(), adu, plan.exception) >= 0;
    }
    for (const auto& [tag, value] : plan.writes) {
      if (s.sink->SetValue(tag, value, Name()) == ValueSink::Result::kSet) values_.fetch_add(1);
    }
    if (!plan.writes.empty()) writes_.fetch_add(1);
    // The answer's registers from the tags' last values (the writes above included).
    const uint32_t read_end = plan.read_address + plan.read_count;
    for (const MapEntry& e : s.index.map()) {
      if (e.address >= read_end || e.address + e.Width() <= plan.read_address) continue;
      double value = 0;
      s.sink->LastValue(e.tag, &value);
      EncodeRegisters(e, value, s.mapping->tab_registers + (e.address - s.index.first()));
    }
    return modbus_reply(s.ctx.get(), adu, length, s.mapping.get()) >= 0;
  };
  auto accept_client = [&] {
    sockaddr_storage peer{};
    socklen_t size = sizeof peer;
    int fd = ::accept4(s.listen_fd, reinterpret_cast<sockaddr*>(&peer), &size, SOCK_CLOEXEC);
    if (fd < 0) return;
    // Counted before the close, which the client sees: whoever then asks finds it counted.
    if (!PeerAllowed(settings_.allow, peer)) {
      refused_.fetch_add(1);
      ::close(fd);
      tell("allow", "refused a client from " + PeerText(peer) + ", outside --modbus-allow");
      return;
    }
    if (s.clients.size() >= settings_.max_clients) {
      refused_.fetch_add(1);
      ::close(fd);
      tell("clients", "refused a client from " + PeerText(peer) + ": " +
                          std::to_string(settings_.max_clients) +
                          " clients are connected (--modbus-clients)");
      return;
    }
    s.clients.push_back({fd, Clock::now()});
    clients_.store(s.clients.size());
  };

  std::vector<pollfd> fds;
  while (true) {
    fds.assign({{s.wake[0], POLLIN, 0}, {s.listen_fd, POLLIN, 0}});
    auto now = Clock::now();
    auto wait = std::chrono::milliseconds(1000);
    for (const Server::Client& c : s.clients) {
      fds.push_back({c.fd, POLLIN, 0});
      auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(c.last + settings_.idle - now) +
          std::chrono::milliseconds(1);
      wait = std::max(std::chrono::milliseconds(0), std::min(wait, left));
    }
    if (::poll(fds.data(), fds.size(), static_cast<int>(wait.count())) < 0 && errno != EINTR) {
      break;
    }
    if (fds[0].revents != 0) break;
    now = Clock::now();
    // Backwards, so that closing one leaves the indexes of those before it.
    for (size_t i = s.clients.size(); i-- > 0;) {
      if (fds[i + 2].revents != 0) {
        if (!serve_request(i)) {
          close_client(i);
          continue;
        }
        s.clients[i].last = Clock::now();
      } else if (now - s.clients[i].last >= settings_.idle) {
        close_client(i);
      }
    }
    if (fds[1].revents != 0) accept_client();
  }
}

std::unique_ptr<ValueInput> NewModbusInput(const ModbusOptions& options,
                                           const std::vector<std::string>& linked,
                                           std::function<void(const std::string&)> log,
                                           std::string* error) {
  ModbusMap map;
  if (options.map_file.empty()) {
    if (!MakeModbusMap(linked, &map, error)) return nullptr;
  } else {
    std::ifstream in(options.map_file, std::ios::binary);
    if (!in) {
      *error = "--modbus-map: cannot read " + options.map_file + ": " + std::strerror(errno);
      return nullptr;
    }
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::set<std::string> tags(linked.begin(), linked.end());
    if (!ParseModbusMap(text, options.map_file, &map, error) ||
        !CheckMapTags(map, options.map_file, tags, error)) {
      return nullptr;
    }
  }
  if (map.empty()) {
    *error = options.map_file.empty()
                 ? "--modbus: no station links a tag, so there are no registers to serve"
                 : "--modbus-map: " + options.map_file + " maps no register";
    return nullptr;
  }
  ModbusServerSettings settings;
  settings.host = options.address.host;
  settings.port = options.address.port;
  settings.unit = options.unit;
  settings.max_clients = static_cast<size_t>(options.clients);
  settings.allow = options.allow;
  settings.log = std::move(log);
  return std::make_unique<ModbusInput>(std::move(settings), std::move(map));
}

}  // namespace veldrane::host
