// A TCP relay on loopback whose speed a soak turns down and up: the uplink between the runner and
// its broker. It listens on a free loopback port (printed on the first line), and for each client
// connects to the upstream port and carries the bytes both ways. SIGUSR1 slows each direction of
// every connection to about 2 KB/s, SIGUSR2 lets them run free again; SIGTERM ends it. A side that
// closes ends its pair.
// Usage: slow_link UPSTREAM_PORT
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

volatile std::sig_atomic_t g_slow = 0;
volatile std::sig_atomic_t g_stop = 0;

// Bytes each direction may carry per tenth of a second while slow.
constexpr size_t kSlowBytesPerTick = 200;

int Loopback(uint16_t port, sockaddr_in* address) {
  *address = {};
  address->sin_family = AF_INET;
  address->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address->sin_port = htons(port);
  return socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
}

bool SendAll(int fd, const char* bytes, size_t count) {
  while (count > 0) {
    ssize_t n = send(fd, bytes, count, MSG_NOSIGNAL);
    if (n <= 0) return false;
    bytes += n;
    count -= static_cast<size_t>(n);
  }
  return true;
}

struct Pair {
  int fd[2];         // the client, the upstream
  size_t budget[2];  // what each side may still send this tick while slow
  bool open = true;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 || std::atoi(argv[1]) <= 0) {
    std::fprintf(stderr, "usage: slow_link UPSTREAM_PORT\n");
    return 2;
  }
  const uint16_t upstream = static_cast<uint16_t>(std::atoi(argv[1]));
  std::signal(SIGUSR1, [](int) { g_slow = 1; });
  std::signal(SIGUSR2, [](int) { g_slow = 0; });
  std::signal(SIGTERM, [](int) { g_stop = 1; });
  sockaddr_in address;
  int listener = Loopback(0, &address);
  socklen_t length = sizeof address;
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener, 16) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    std::perror("slow_link: listen");
    return 1;
  }
  std::printf("%u\n", ntohs(address.sin_port));
  std::fflush(stdout);

  std::vector<Pair> pairs;
  auto tick = std::chrono::steady_clock::now();
  char buffer[65536];
  while (!g_stop) {
    if (std::chrono::steady_clock::now() - tick >= std::chrono::milliseconds(100)) {
      tick = std::chrono::steady_clock::now();
      for (Pair& p : pairs) p.budget[0] = p.budget[1] = kSlowBytesPerTick;
    }
    std::vector<pollfd> fds{{listener, POLLIN, 0}};
    for (const Pair& p : pairs) {
      for (int side = 0; side < 2; ++side) {
        const bool may = !g_slow || p.budget[side] > 0;
        fds.push_back({p.fd[side], static_cast<short>(may ? POLLIN : 0), 0});
      }
    }
    if (poll(fds.data(), fds.size(), 20) < 0) continue;
    for (size_t i = 0; i < pairs.size(); ++i) {
      Pair& p = pairs[i];
      for (int side = 0; side < 2 && p.open; ++side) {
        if (!(fds[1 + 2 * i + side].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        size_t most = g_slow ? p.budget[side] : sizeof buffer;
        ssize_t n = recv(p.fd[side], buffer, most, 0);
        if (n <= 0 || !SendAll(p.fd[1 - side], buffer, static_cast<size_t>(n))) {
          p.open = false;
          break;
        }
        if (g_slow) p.budget[side] -= static_cast<size_t>(n);
      }
    }
    for (Pair& p : pairs) {
      if (p.open) continue;
      close(p.fd[0]);
      close(p.fd[1]);
    }
    std::erase_if(pairs, [](const Pair& p) { return !p.open; });
    if (fds[0].revents & POLLIN) {
      int client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) continue;
      sockaddr_in up;
      int server = Loopback(upstream, &up);
      if (connect(server, reinterpret_cast<sockaddr*>(&up), sizeof up) != 0) {
        close(server);
        close(client);  // the broker is away: the client tries again
        continue;
      }
      pairs.push_back({{client, server}, {kSlowBytesPerTick, kSlowBytesPerTick}});
    }
  }
  for (Pair& p : pairs) {
    close(p.fd[0]);
    close(p.fd[1]);
  }
  close(listener);
  return 0;
}
