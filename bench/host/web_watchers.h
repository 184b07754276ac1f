// The live page's side of lines_bench: event-stream clients that read everything the runner
// sends (as browsers watching the page do), requests per second of /api/status, and the time
// from a value written to the runner to the event that carries it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace veldrane::bench {

class WebWatchers {
 public:
  explicit WebWatchers(int port) : port_(port) {}
  ~WebWatchers() { Stop(); }
  // Opens `count` streams of /api/stream; false when one cannot connect.
  bool Start(int count);
  void Stop();
  // Bytes the streams received.
  uint64_t bytes() const { return bytes_.load(); }
  // Waits until any stream receives `marker` after this call; the seconds it took, or -1 after
  // `timeout` seconds.
  double WaitFor(const std::string& marker, double timeout);

 private:
  void Run();

  int port_;
  std::vector<int> fds_;
  std::atomic<bool> done_{false};
  std::atomic<uint64_t> bytes_{0};
  std::mutex mutex_;  // guards marker_, seen_
  std::string marker_;
  bool seen_ = false;
  std::thread thread_;
};

// GET `path` over one kept-alive connection for `seconds`: requests per second, and the bytes of
// the last answer's body in *body_bytes. -1 when the server does not answer 200.
double RequestsPerSecond(int port, const std::string& path, double seconds, size_t* body_bytes);

}  // namespace veldrane::bench
