// A listening socket on loopback for tests, and its port. With a backlog of 0 and one
// connection waiting in it, its queue is full: a connect to it hangs, as one to a device server
// behind a dead link does.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace veldrane::test {

struct Listener {
  explicit Listener(int backlog) {
    fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, backlog) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) != 0) {
      std::abort();
    }
    port = ntohs(a.sin_port);
    if (backlog == 0) {
      filler = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      if (connect(filler, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) std::abort();
    }
  }
  ~Listener() {
    if (filler >= 0) close(filler);
    close(fd);
  }
  std::string Address() const { return "tcp://127.0.0.1:" + std::to_string(port); }

  int fd = -1;
  int filler = -1;
  uint16_t port = 0;
};

}  // namespace veldrane::test
