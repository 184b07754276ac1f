#include "bench/host/web_watchers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace veldrane::bench {
namespace {

using Clock = std::chrono::steady_clock;

int Connect(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool SendAll(int fd, const std::string& text) {
  for (size_t at = 0; at < text.size();) {
    ssize_t n = send(fd, text.data() + at, text.size() - at, MSG_NOSIGNAL);
    if (n <= 0) return false;
    at += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

bool WebWatchers::Start(int count) {
  for (int i = 0; i < count; ++i) {
    int fd = Connect(port_);
    if (fd < 0 || !SendAll(fd, "GET /api/stream HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")) return false;
    fds_.push_back(fd);
  }
  thread_ = std::thread([this] { Run(); });
  return true;
}

void WebWatchers::Stop() {
  done_ = true;
  if (thread_.joinable()) thread_.join();
  for (int fd : fds_) close(fd);
  fds_.clear();
}

double WebWatchers::WaitFor(const std::string& marker, double timeout) {
  auto start = Clock::now();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    marker_ = marker;
    seen_ = false;
  }
  while (std::chrono::duration<double>(Clock::now() - start).count() < timeout) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (seen_) return std::chrono::duration<double>(Clock::now() - start).count();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return -1;
}

void WebWatchers::Run() {
  std::vector<char> buffer(1 << 16);
  while (!done_) {
    std::vector<pollfd> polls;
    for (int fd : fds_) polls.push_back({fd, POLLIN, 0});
    if (poll(polls.data(), polls.size(), 100) <= 0) continue;
    for (const pollfd& p : polls) {
      if (!(p.revents & POLLIN)) continue;
      ssize_t n = read(p.fd, buffer.data(), buffer.size());
      if (n <= 0) continue;
      bytes_ += static_cast<uint64_t>(n);
      std::lock_guard<std::mutex> lock(mutex_);
      // A marker split between two reads is missed; the events are small and the markers many.
      if (!marker_.empty() &&
          std::string_view(buffer.data(), static_cast<size_t>(n)).find(marker_) !=
              std::string_view::npos) {
        seen_ = true;
      }
    }
  }
}

double RequestsPerSecond(int port, const std::string& path, double seconds, size_t* body_bytes) {
  int fd = Connect(port);
  if (fd < 0) return -1;
  std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  std::string data;
  std::vector<char> buffer(1 << 16);
  auto start = Clock::now();
  int count = 0;
  while (std::chrono::duration<double>(Clock::now() - start).count() < seconds) {
    if (!SendAll(fd, request)) break;
    // The head, then Content-Length bytes of body.
    size_t head_end;
    while ((head_end = data.find("\r\n\r\n")) == std::string::npos) {
      ssize_t n = read(fd, buffer.data(), buffer.size());
      if (n <= 0) {
        close(fd);
        return -1;
      }
      data.append(buffer.data(), static_cast<size_t>(n));
    }
    if (data.compare(0, 12, "HTTP/1.1 200") != 0) {
      close(fd);
      return -1;
    }
    const char* length = strcasestr(data.c_str(), "Content-Length:");
    size_t body = length ? std::strtoull(length + 15, nullptr, 10) : 0;
    while (data.size() < head_end + 4 + body) {
      ssize_t n = read(fd, buffer.data(), buffer.size());
      if (n <= 0) {
        close(fd);
        return -1;
      }
      data.append(buffer.data(), static_cast<size_t>(n));
    }
    data.erase(0, head_end + 4 + body);
    *body_bytes = body;
    ++count;
  }
  close(fd);
  return count / std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace veldrane::bench
