// The serial device of a device server's port: the line's bytes over TCP, raw ("tcp://") or in
// Telnet with the COM-PORT-OPTION ("rfc2217://"), which also puts the line settings on the far
// port and carries RTS and CTS. Every system call goes through NetSys().
//
// Every wait is bounded as on a terminal: a connection try (the name, the connect to its
// addresses, side by side when the first is silent, and, with RFC 2217, the agreement on the
// option) takes at most a second, and ends when the engine stops; a write its time-out; the wait
// for the transmitter lasts until the peer has acknowledged every byte, then the bytes'
// character time on the far line. Keepalive and a user time-out find a peer that died silently.
//
// A connection that fails (refused, reset, closed by the peer, found dead) is closed like an
// unplugged adapter, and made again when the serial line asks whether the device came back
// (once a pass), at most once a second after the last try ended; until then every frame fails.
// Each try reads the port-map entry again: the port follows its entry to a new address, and
// never moves to another port.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <linux/sockios.h>
#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "platform/net/net_address.h"
#include "platform/net/net_sys.h"
#include "platform/net/telnet_codec.h"
#include "platform/serial/port_map.h"
#include "platform/serial/serial_device.h"
#include "platform/serial/serial_reopen.h"
#include "platform/serial/serial_settings.h"
#include "platform/stop_signal.h"

namespace veldrane::platform {
namespace {

namespace tn = telnet;

constexpr uint64_t kConnectTimeoutUs = 1000000;
constexpr uint64_t kReconnectIntervalUs = 1000000;
// A command to the far port (RTS, an option's answer) is a few bytes: it gets a write's time.
constexpr uint64_t kCommandTimeoutUs = 1000000;
// How often the send queue is asked whether the peer has every byte.
constexpr uint64_t kPollIntervalUs = 1000;
// Keepalive probes after 2 s of silence, then every second; 3 unanswered end the connection.
constexpr int kKeepIdleSeconds = 2;
constexpr int kKeepIntervalSeconds = 1;
constexpr int kKeepCount = 3;
// Keepalive waits while bytes are unacknowledged: this ends a connection that left them so.
constexpr unsigned kUserTimeoutMs = 5000;
// What one call reads of the peer's bytes at most (the meters never answer; a peer that floods
// does not hold the line).
constexpr size_t kDrainLimit = 65536;

constexpr SerialResult kTimeout{SerialFault::kTimedOut, 0};
// A connection try that a stop ended: tried again at the next start.
constexpr SerialResult kCutShort{SerialFault::kTimedOut, ECANCELED};
// How long an address has alone before the next one is tried beside it.
constexpr uint64_t kAttemptDelayUs = 250000;
// How often the waits of a try that a stop may end look at it.
constexpr uint64_t kStopLookUs = 20000;

SerialResult Broken(int error) {
  return {SerialFault::kIoError, error};
}

// The cause of a name that did not resolve: no such name (error 0), or no answer in time.
SerialResult ResolveFault(int rc, int error) {
  switch (rc) {
    case EAI_AGAIN:
      return {SerialFault::kTimedOut, EAGAIN};
    case EAI_SYSTEM:
      return Broken(error);
    case EAI_MEMORY:
      return Broken(ENOMEM);
    default:
      return {SerialFault::kNotFound, 0};
  }
}

// A peer that is not there counts as a device that is not there.
SerialResult ConnectFault(int error) {
  switch (error) {
    case ECONNREFUSED:
    case ENETUNREACH:
    case EHOSTUNREACH:
    case EHOSTDOWN:
    case EADDRNOTAVAIL:
      return {SerialFault::kNotFound, error};
    case ETIMEDOUT:
      return {SerialFault::kTimedOut, error};
    case EACCES:
    case EPERM:
      return {SerialFault::kPermissionDenied, error};
    default:
      return Broken(error);
  }
}

int RemainingMs(uint64_t now, uint64_t deadline) {
  return now >= deadline ? 0 : static_cast<int>((deadline - now + 999) / 1000);
}

class NetSerialDevice final : public SerialDevice {
 public:
  ~NetSerialDevice() override { Close(); }

  SerialResult Open(const char* port_name, const SerialSettings& settings) override {
    Close();
    reopen_.Restart();
    settings_ = settings;
    if (!SettingsInRange(settings)) return Fail({SerialFault::kSettingsRefused, 0});
    entry_ = ComDevicePath(port_name);
    if (entry_.empty()) return Fail({SerialFault::kNotFound, 0});
    return Fail(Connect());
  }

  // What waits to be sent cannot be called back from the peer; what the peer sent (answers,
  // notices, bytes the far line received) is read and dropped, and tells of a lost connection.
  SerialResult Purge() override {
    if (SerialResult r = Usable(); !r.ok()) return r;
    return Drain();
  }

  SerialResult SetRts(bool up) override {
    if (SerialResult r = Usable(); !r.ok()) return r;
    // Raw TCP carries the bytes only: there is no modem line to set.
    if (protocol_ == NetProtocol::kRawTcp) return {SerialFault::kSettingsRefused, EOPNOTSUPP};
    tn::Bytes command;
    tn::AppendComPort(tn::kSetControl, {up ? tn::kRtsOn : tn::kRtsOff}, &command);
    return InUse(Send(command, Sys().now_us() + kCommandTimeoutUs));
  }

  ModemLine Cts() override {
    if (!Usable().ok()) return ModemLine::kDown;
    if (protocol_ == NetProtocol::kRawTcp) return ModemLine::kUnsupported;
    // The far port tells of CTS in NOTIFY-MODEMSTATE whenever it changes.
    if (!Drain().ok()) return ModemLine::kDown;
    return cts_ ? ModemLine::kUp : ModemLine::kDown;
  }

  SerialResult Write(const uint8_t* bytes, size_t length, uint32_t timeout_ms) override {
    if (SerialResult r = Usable(); !r.ok()) return r;
    written_ = 0;
    out_.clear();
    if (protocol_ == NetProtocol::kRawTcp) {
      out_.assign(bytes, bytes + length);
    } else {
      tn::AppendData(bytes, length, &out_);
    }
    size_t sent = 0;
    SerialResult r = Send(out_, Sys().now_us() + uint64_t{timeout_ms} * 1000, &sent);
    // A frame cut off midway would run into the next one (and, in Telnet, could break a
    // command): a connection that took part of a frame and no more for so long starts anew.
    if (r.fault == SerialFault::kTimedOut && sent > 0) Lose(ETIMEDOUT);
    if (r.ok()) written_ = length;
    return InUse(r);
  }

  SerialResult WaitTransmitted(uint32_t timeout_ms) override {
    if (SerialResult r = Usable(); !r.ok()) return r;
    const NetSysApi& sys = Sys();
    const uint64_t deadline = sys.now_us() + uint64_t{timeout_ms} * 1000;
    // First the send queue: down to 0 when the peer has acknowledged every byte. A socket that
    // cannot tell counts as empty.
    for (;;) {
      int queued = 0;
      if (sys.ioctl(fd_, SIOCOUTQ, &queued) != 0 || queued <= 0) break;
      uint64_t now = sys.now_us();
      if (now >= deadline) return kTimeout;
      sys.sleep_us(std::min(kPollIntervalUs, deadline - now));
    }
    // A peer that went away meanwhile has not sent the bytes.
    if (SerialResult r = Drain(); !r.ok()) return r;
    // Then the bytes' character time on the far line.
    uint64_t now = sys.now_us();
    uint64_t done = now + CharacterTimeUs(settings_, written_);
    if (done > deadline) {
      if (deadline > now) sys.sleep_us(deadline - now);
      return kTimeout;
    }
    sys.sleep_us(done - now);
    return SerialResult::Ok();
  }

  // Asked once a pass: a lost connection is tried again here, at most once a second, and not
  // by the frames. So a pass holds at most one try, however many stations fail meanwhile, and
  // the meters get their values as soon as the device server is back, not at the next change.
  bool TakeReturned() override {
    if (fd_ < 0) Reconnect();
    return reopen_.TakeReturned();
  }

  bool Lost() const override { return reopen_.lost(); }
  void WatchStop(const StopSignal* stop) override { stop_ = stop; }

 private:
  static const NetSysApi& Sys() { return NetSys(); }
  bool Stopping() const { return stop_ && stop_->Raised(); }

  // One try: the entry's address, its name, a connection to one of its addresses and, with
  // RFC 2217, the option and the line settings; all within kConnectTimeoutUs, and ended by a
  // stop.
  SerialResult Connect() {
    const NetSysApi& sys = Sys();
    const uint64_t deadline = sys.now_us() + kConnectTimeoutUs;
    const std::string text = PortEntryAddress(entry_);
    NetAddress address;
    // The entry went away, or names a device now: the port waits for it as for an adapter.
    if (text.empty()) return {SerialFault::kNotFound, ENOENT};
    if (!ParseNetAddress(text, &address, nullptr)) return {SerialFault::kNotFound, EINVAL};
    protocol_ = address.protocol;
    if (Stopping()) return kCutShort;
    addrinfo* list = nullptr;
    const std::string service = std::to_string(address.port);
    int rc = sys.resolve(address.host.c_str(), service.c_str(), &list,
                         RemainingMs(sys.now_us(), deadline), stop_);
    if (rc != 0) return Stopping() ? kCutShort : ResolveFault(rc, errno);
    SerialResult r = Race(Interleaved(list), deadline);
    sys.free_addresses(list);
    if (r.ok() && protocol_ == NetProtocol::kRfc2217) r = Negotiate(deadline);
    if (!r.ok()) Close();
    return r;
  }

  // The addresses of a name with their families taking turns, the first family first: a
  // family that does not work (IPv6 behind a firewall) holds up the other by one start only.
  static std::vector<const addrinfo*> Interleaved(const addrinfo* list) {
    std::vector<const addrinfo*> first, other, order;
    for (const addrinfo* a = list; a; a = a->ai_next) {
      (a->ai_family == list->ai_family ? first : other).push_back(a);
    }
    for (size_t i = 0; i < first.size() || i < other.size(); ++i) {
      if (i < first.size()) order.push_back(first[i]);
      if (i < other.size()) order.push_back(other[i]);
    }
    return order;
  }

  // Connects to the first of `order` that answers by `deadline`: a new address is tried each
  // kAttemptDelayUs while the earlier ones still wait, or at once when they have failed; the
  // first connection made wins and the others are closed. A silent address costs the others
  // that delay, not the whole try.
  SerialResult Race(const std::vector<const addrinfo*>& order, uint64_t deadline) {
    const NetSysApi& sys = Sys();
    std::vector<pollfd> waiting;
    SerialResult last{SerialFault::kTimedOut, ETIMEDOUT};
    size_t next = 0;
    uint64_t next_start = 0;
    auto close_all = [&] {
      for (const pollfd& p : waiting) sys.close(p.fd);
      waiting.clear();
    };
    for (;;) {
      const uint64_t now = sys.now_us();
      if (Stopping()) {
        close_all();
        return kCutShort;
      }
      if (now >= deadline) {
        if (!waiting.empty()) last = {SerialFault::kTimedOut, ETIMEDOUT};
        close_all();
        return last;
      }
      if (next < order.size() && (waiting.empty() || now >= next_start)) {
        int fd = -1;
        bool connected = false;
        last = StartConnect(*order[next++], &fd, &connected);
        if (connected) {
          close_all();
          return Adopt(fd);
        }
        if (fd >= 0) waiting.push_back({fd, POLLOUT, 0});
        next_start = now + kAttemptDelayUs;
        continue;
      }
      if (waiting.empty()) return last;  // every address failed
      uint64_t until = next < order.size() ? std::min(deadline, next_start) : deadline;
      if (stop_) until = std::min(until, now + kStopLookUs);
      int ready = sys.poll(waiting.data(), waiting.size(), RemainingMs(now, until));
      if (ready < 0 && errno != EINTR) {
        int error = errno;
        close_all();
        return Broken(error);
      }
      for (size_t i = 0; ready > 0 && i < waiting.size();) {
        if (waiting[i].revents == 0) {
          ++i;
          continue;
        }
        const int fd = waiting[i].fd;
        waiting.erase(waiting.begin() + static_cast<std::ptrdiff_t>(i));
        int error = 0;
        socklen_t length = sizeof error;
        if (sys.getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
        if (error == 0) {
          close_all();
          return Adopt(fd);
        }
        sys.close(fd);
        last = ConnectFault(error);
        next_start = now;  // the next address at once
      }
    }
  }

  // Starts a connection to `address`: `fd` the socket while it is under way, `connected` when
  // it was made at once; else why it failed.
  SerialResult StartConnect(const addrinfo& address, int* fd, bool* connected) {
    const NetSysApi& sys = Sys();
    *fd = sys.socket(address.ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (*fd < 0) return Broken(errno);
    SetOptions(*fd);
    if (sys.connect(*fd, address.ai_addr, address.ai_addrlen) == 0) {
      *connected = true;
      return SerialResult::Ok();
    }
    if (errno == EINPROGRESS) return SerialResult::Ok();
    const int error = errno;
    sys.close(*fd);
    *fd = -1;
    return ConnectFault(error);
  }

  SerialResult Adopt(int fd) {
    fd_ = fd;
    reader_ = tn::Reader();
    negotiator_ = NewNegotiator();
    cts_ = false;
    return SerialResult::Ok();
  }

  // Frames go out at once, and a dead peer is found. Failures only cost that.
  void SetOptions(int fd) {
    const NetSysApi& sys = Sys();
    auto set = [&](int level, int name, int value) {
      sys.setsockopt(fd, level, name, &value, sizeof value);
    };
    set(IPPROTO_TCP, TCP_NODELAY, 1);
    set(SOL_SOCKET, SO_KEEPALIVE, 1);
    set(IPPROTO_TCP, TCP_KEEPIDLE, kKeepIdleSeconds);
    set(IPPROTO_TCP, TCP_KEEPINTVL, kKeepIntervalSeconds);
    set(IPPROTO_TCP, TCP_KEEPCNT, kKeepCount);
    set(IPPROTO_TCP, TCP_USER_TIMEOUT, static_cast<int>(kUserTimeoutMs));
  }

  static tn::Negotiator NewNegotiator() {
    return tn::Negotiator({tn::kComPortOption, tn::kBinary, tn::kSuppressGoAhead},
                          {tn::kBinary, tn::kSuppressGoAhead});
  }

  // Offers the COM-PORT-OPTION and binary mode both ways, waits until the peer takes the
  // option, then sends the line settings. A peer that refuses it, or does not answer in time,
  // takes no line settings; one that closes at once holds the port for another client.
  SerialResult Negotiate(uint64_t deadline) {
    const NetSysApi& sys = Sys();
    tn::Bytes out;
    negotiator_.Offer(tn::kComPortOption, &out);
    negotiator_.Offer(tn::kBinary, &out);
    negotiator_.Ask(tn::kBinary, &out);
    if (SerialResult r = Send(out, deadline); !r.ok()) return r;
    while (!negotiator_.LocalOn(tn::kComPortOption)) {
      if (negotiator_.LocalRefused(tn::kComPortOption)) {
        return {SerialFault::kSettingsRefused, EPROTONOSUPPORT};
      }
      uint64_t now = sys.now_us();
      if (Stopping()) return kCutShort;
      if (now >= deadline) return {SerialFault::kSettingsRefused, ETIMEDOUT};
      pollfd p{fd_, POLLIN, 0};
      const uint64_t until = stop_ ? std::min(deadline, now + kStopLookUs) : deadline;
      int ready = sys.poll(&p, 1, RemainingMs(now, until));
      if (ready < 0 && errno != EINTR) return Broken(errno);
      if (ready > 0) {
        if (SerialResult r = ReadPending(); !r.ok()) return {SerialFault::kBusy, r.error};
      }
    }
    return Send(tn::LineSettingsCommands(settings_), deadline);
  }

  // Sends all of `bytes` by `deadline`; `sent` tells how many went when it did not.
  SerialResult Send(const tn::Bytes& bytes, uint64_t deadline, size_t* sent = nullptr) {
    const NetSysApi& sys = Sys();
    size_t done = 0;
    SerialResult r;
    while (done < bytes.size()) {
      ssize_t n =
          sys.send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) {
        done += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
        r = Broken(errno);
        break;
      }
      // The send queue is full: wait for room, within the time left.
      uint64_t now = sys.now_us();
      if (now >= deadline) {
        r = kTimeout;
        break;
      }
      pollfd p{fd_, POLLOUT, 0};
      if (sys.poll(&p, 1, RemainingMs(now, deadline)) < 0 && errno != EINTR) {
        r = Broken(errno);
        break;
      }
    }
    if (sent) *sent = done;
    return r;
  }

  // Reads what the peer sent, answers its option requests and notes CTS; a peer that closed or
  // failed is reported as lost (the caller decides what that means).
  SerialResult ReadPending() {
    const NetSysApi& sys = Sys();
    uint8_t buffer[512];
    for (size_t total = 0; total < kDrainLimit;) {
      ssize_t n = sys.recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
      if (n == 0) return Broken(ECONNRESET);
      if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) break;
        return Broken(errno);
      }
      total += static_cast<size_t>(n);
      if (protocol_ == NetProtocol::kRfc2217) {
        if (SerialResult r = Interpret(buffer, static_cast<size_t>(n)); !r.ok()) return r;
      }
    }
    return SerialResult::Ok();
  }

  SerialResult Interpret(const uint8_t* bytes, size_t length) {
    events_.clear();
    reader_.Feed(bytes, length, &events_);
    tn::Bytes answers;
    for (const tn::Event& e : events_) {
      if (e.kind == tn::Event::Kind::kOption) {
        negotiator_.Answer(e.verb, e.option, &answers);
      } else if (e.kind == tn::Event::Kind::kSubnegotiation && e.option == tn::kComPortOption &&
                 e.bytes.size() >= 2 && e.bytes[0] == tn::kNotifyModemState + tn::kServerOffset) {
        cts_ = (e.bytes[1] & tn::kCts) != 0;
      }
    }
    if (answers.empty()) return SerialResult::Ok();
    return Send(answers, Sys().now_us() + kCommandTimeoutUs);
  }

  // ReadPending on a connection in use.
  SerialResult Drain() { return InUse(ReadPending()); }

  // A connection in use that failed is lost.
  SerialResult InUse(SerialResult r) {
    if (r.fault == SerialFault::kIoError && fd_ >= 0) Lose(r.error);
    return r;
  }

  // The device is connected; else why not.
  SerialResult Usable() const { return fd_ >= 0 ? SerialResult::Ok() : reopen_.failure(); }

  // A lost connection, tried again a second after the last try ended.
  void Reconnect() {
    if (!reopen_.TryDue(Sys().now_us())) return;
    SerialResult r = Connect();
    reopen_.Tried(r, Sys().now_us());
  }

  SerialResult Fail(SerialResult r) { return reopen_.Fail(r); }

  // The connection went away: close it and try again later.
  void Lose(int error) {
    Close();
    reopen_.Lose(Broken(error), Sys().now_us());
  }

  void Close() {
    if (fd_ < 0) return;
    // What the peer sent and nobody read would turn the close into a reset.
    uint8_t buffer[512];
    for (size_t total = 0; total < kDrainLimit;) {
      ssize_t n = Sys().recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
      if (n <= 0) break;
      total += static_cast<size_t>(n);
    }
    Sys().close(fd_);
    fd_ = -1;
  }

  std::string entry_;  // the port-map entry the port was opened with, read again at each try
  SerialSettings settings_;
  NetProtocol protocol_ = NetProtocol::kRawTcp;
  int fd_ = -1;
  ReopenState reopen_{kReconnectIntervalUs};  // tries timed by their end
  size_t written_ = 0;
  tn::Bytes out_;
  tn::Reader reader_;
  tn::Negotiator negotiator_ = NewNegotiator();
  std::vector<tn::Event> events_;
  bool cts_ = false;                  // as the far port last told
  const StopSignal* stop_ = nullptr;  // raised from another thread: read only through Raised()
};

}  // namespace

std::unique_ptr<SerialDevice> NewNetworkSerialDevice() {
  return std::make_unique<NetSerialDevice>();
}

}  // namespace veldrane::platform
