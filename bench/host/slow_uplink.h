// A loopback proxy in front of a broker whose uplink (client to broker) carries at most a given
// number of bytes a second, for the tests and benchmarks of a slow broker link. One connection
// at a time; a new one replaces the old.
#pragma once

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace veldrane::bench {

// `rate` bytes a second at most from the client to the broker (0: no limit); the other way is
// free.
class SlowUplink {
 public:
  explicit SlowUplink(int broker_port) : broker_port_(broker_port) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = Loopback(0);
    socklen_t size = sizeof a;
    bind(listener_, reinterpret_cast<sockaddr*>(&a), size);
    listen(listener_, 4);
    getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &size);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~SlowUplink() {
    stop_ = true;
    thread_.join();
    close(listener_);
  }
  int port() const { return port_; }
  void set_rate(int bytes_per_second) { rate_ = bytes_per_second; }

 private:
  static sockaddr_in Loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    return a;
  }
  void Serve() {
    int client = -1, broker = -1;
    std::chrono::steady_clock::time_point tick = std::chrono::steady_clock::now();
    int budget = 0;
    while (!stop_) {
      std::vector<pollfd> fds = {{listener_, POLLIN, 0}};
      if (client >= 0) fds.push_back({client, POLLIN, 0});
      if (broker >= 0) fds.push_back({broker, POLLIN, 0});
      poll(fds.data(), fds.size(), 20);
      if (fds[0].revents & POLLIN) {  // a new connection replaces the old one
        if (client >= 0) close(client), close(broker);
        client = accept(listener_, nullptr, nullptr);
        broker = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = Loopback(broker_port_);
        connect(broker, reinterpret_cast<sockaddr*>(&a), sizeof a);
      }
      if (client < 0) continue;
      if (std::chrono::steady_clock::now() - tick >= std::chrono::milliseconds(100)) {
        tick = std::chrono::steady_clock::now();
        budget = rate_ / 10;
      }
      char buffer[4096];
      if (broker >= 0 && fds.size() > 2 && (fds[2].revents & (POLLIN | POLLHUP))) {
        ssize_t n = read(broker, buffer, sizeof buffer);
        if (n <= 0 || write(client, buffer, n) != n) close(client), close(broker), client = -1;
      }
      if (client < 0 || fds.size() < 2 || !(fds[1].revents & (POLLIN | POLLHUP))) continue;
      int rate = rate_;
      size_t want = rate == 0 ? sizeof buffer : std::min<size_t>(sizeof buffer, budget);
      if (want == 0) continue;
      ssize_t n = read(client, buffer, want);
      if (n <= 0 || write(broker, buffer, n) != n) {
        close(client), close(broker), client = -1;
        continue;
      }
      budget -= static_cast<int>(n);
    }
    if (client >= 0) close(client), close(broker);
  }

  int broker_port_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<int> rate_{0};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace veldrane::bench
