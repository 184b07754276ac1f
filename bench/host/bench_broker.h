// A mosquitto broker for the benchmarks, with a configuration written by the benchmark, on a
// free loopback port, stopped by its process id.
#pragma once

#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

extern char** environ;

namespace veldrane::bench {

// A loopback port that was free a moment ago.
inline int FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof a;
  int port = -1;
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), size) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size) == 0) {
    port = ntohs(a.sin_port);
  }
  close(fd);
  return port;
}

inline bool Listening(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(fd);
  return ok;
}

// A mosquitto broker with a configuration written here, stopped by its process id.
class Broker {
 public:
  // nodelay: the broker sends each message at once rather than waiting for the peer's
  // acknowledgement of the one before (Nagle's algorithm, its default).
  Broker(std::string dir, bool nodelay) : dir_(std::move(dir)), nodelay_(nodelay) {}
  ~Broker() { Stop(); }

  bool Start() {
    const char* bin =
        access("/usr/sbin/mosquitto", X_OK) == 0 ? "/usr/sbin/mosquitto" : "mosquitto";
    std::string conf = dir_ + "/broker.conf", log = dir_ + "/broker.log";
    const passwd* user = getpwuid(geteuid());
    for (int attempt = 0; attempt < 5; ++attempt) {
      port_ = FreePort();
      std::ofstream(conf) << "listener " << port_ << " 127.0.0.1\npersistence false\n"
                          << "allow_anonymous true\nset_tcp_nodelay "
                          << (nodelay_ ? "true" : "false") << "\nuser "
                          << (user ? user->pw_name : "root") << "\n";
      posix_spawn_file_actions_t actions;
      posix_spawn_file_actions_init(&actions);
      posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                       0600);
      posix_spawn_file_actions_adddup2(&actions, 1, 2);
      char* argv[] = {const_cast<char*>(bin), const_cast<char*>("-c"), conf.data(), nullptr};
      int failed = posix_spawnp(&pid_, bin, &actions, nullptr, argv, environ);
      posix_spawn_file_actions_destroy(&actions);
      if (failed != 0) return false;
      for (int i = 0; i < 50; ++i) {  // bounded: 5 s
        if (Listening(port_)) return true;
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) break;  // the port was taken
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
      Stop();
    }
    return false;
  }
  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  int port() const { return port_; }

 private:
  std::string dir_;
  bool nodelay_;
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace veldrane::bench
