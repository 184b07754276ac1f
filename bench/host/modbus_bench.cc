// One runner as a Modbus TCP server: the built veldrane-host with one line of 50 stations of
// kind 1 on a pseudo-terminal that the benchmark reads through the meter's frame decoder, and
// libmodbus clients on loopback.
//   throughput: each client writes all 100 registers (50 float32 values) with function 16 as
//               fast as the runner answers; the writes a second and the runner's CPU time as a
//               share of one core (/proc), for 1 and for 4 clients at once
//   latency:    one value at a time, to the next station every 200 to 400 ms: from the write's
//               answer to the last byte of the station's frame on the line, beside the engine's
//               own bound (a change waits for a pass that takes changes, every 500 ms in the
//               seconds divisible by 3, then for the frames ahead of it in the send cycle, each
//               its time on the line and a 50 ms pause)
//
//   build/release/bench/modbus_bench [--seconds S] [--changes N]
#include <fcntl.h>
#include <modbus/modbus.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/host/latency_figures.h"
#include "config/doc.h"
#include "host/loader/driver_module.h"
#include "tools/meter/decoder.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kStations = 50;  // 100 registers as float32
constexpr double kPassMs = 500, kCollectEverySeconds = 3, kPauseMs = 50;

using veldrane::bench::Ms;
using veldrane::bench::Percentile;

void WriteConfig(const std::string& path) {
  CVeldraneDoc doc;
  for (int i = 0; i < kStations; ++i) {
    auto station = std::make_unique<CStationInfo>();
    station->name.Format("S%02d", i);
    station->number = i + 1;
    station->kind = 1;
    station->tag_name.Format("M%02d", i);
    doc.Stations().push_back(std::move(station));
  }
  doc.SaveFile(path.c_str());
}

double CpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t at = text.rfind(')');
  if (at == std::string::npos) return -1;
  unsigned long utime = 0, stime = 0;
  // After the name: fields 3 to 13, then utime (14) and stime (15).
  if (std::sscanf(text.c_str() + at + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu",
                  &utime, &stime) != 2) {
    return -1;
  }
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

int FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof a;
  bind(fd, reinterpret_cast<sockaddr*>(&a), size);
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
  close(fd);
  return ntohs(a.sin_port);
}

// The frames on the line as they complete: station, value, when.
struct Seen {
  int station;
  double value;
  Clock::time_point at;
  size_t bytes;
};

class LineReader {
 public:
  explicit LineReader(int master) : master_(master) {
    thread_ = std::thread([this] { Run(); });
  }
  ~LineReader() {
    done_ = true;
    thread_.join();
  }
  std::vector<Seen> frames() {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_;
  }

 private:
  void Run() {
    veldrane::meter::FrameDecoder decoder;
    for (int i = 1; i <= kStations; ++i) decoder.SetStationKind(i, 1);
    std::vector<veldrane::meter::Decoded> out;
    while (!done_) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      uint8_t buffer[512];
      ssize_t n = read(master_, buffer, sizeof buffer);
      if (n <= 0) continue;
      Clock::time_point now = Clock::now();
      out.clear();
      decoder.Feed(buffer, static_cast<size_t>(n), out);
      std::lock_guard<std::mutex> lock(mutex_);
      for (const auto& d : out) {
        if (d.is_frame)
          frames_.push_back({d.frame.station, d.frame.value, now, d.frame.bytes.size()});
      }
    }
  }
  int master_;
  std::atomic<bool> done_{false};
  std::mutex mutex_;  // guards frames_
  std::vector<Seen> frames_;
  std::thread thread_;
};

modbus_t* Connect(int port) {
  modbus_t* ctx = modbus_new_tcp("127.0.0.1", port);
  if (ctx != nullptr && modbus_connect(ctx) == 0) return ctx;
  if (ctx != nullptr) modbus_free(ctx);
  return nullptr;
}

void SetFloat(uint16_t* r, float value) {
  uint32_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  r[0] = static_cast<uint16_t>(bits >> 16);
  r[1] = static_cast<uint16_t>(bits & 0xFFFF);
}

struct Throughput {
  int clients;
  double writes_per_s;
  double cpu_share;
  int failed;
};

Throughput MeasureThroughput(int port, pid_t pid, int clients, double seconds) {
  std::atomic<long> writes{0};
  std::atomic<int> failed{0};
  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  double cpu_start = CpuSeconds(pid);
  auto start = Clock::now();
  for (int c = 0; c < clients; ++c) {
    threads.emplace_back([&, c] {
      modbus_t* ctx = Connect(port);
      if (ctx == nullptr) {
        failed.fetch_add(1);
        return;
      }
      uint16_t r[2 * kStations];
      for (long k = 0; !stop.load(); ++k) {
        for (int i = 0; i < kStations; ++i)
          SetFloat(r + 2 * i, static_cast<float>((k + i + c) % 1000));
        if (modbus_write_registers(ctx, 0, 2 * kStations, r) == 2 * kStations) {
          writes.fetch_add(1);
        } else {
          failed.fetch_add(1);
        }
      }
      modbus_close(ctx);
      modbus_free(ctx);
    });
  }
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  stop = true;
  for (std::thread& t : threads) t.join();
  double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  return {clients, static_cast<double>(writes.load()) / elapsed,
          (CpuSeconds(pid) - cpu_start) / elapsed, failed.load()};
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 10;
  int changes = 60;
  for (int i = 1; i < argc; i += 2) {
    const bool has_value = i + 1 < argc;
    if (has_value && std::strcmp(argv[i], "--seconds") == 0) {
      seconds = std::atof(argv[i + 1]);
    } else if (has_value && std::strcmp(argv[i], "--changes") == 0) {
      changes = std::atoi(argv[i + 1]);
    } else {
      std::printf(
          "Usage: modbus_bench [--seconds S] [--changes N]\n"
          "  Runs veldrane-host --modbus on a line of 50 stations and measures the writes a\n"
          "  second of function 16 (100 registers) for S seconds (default 10), with one client\n"
          "  and with four, and the time from N written changes (default 60) to the meter's\n"
          "  frames.\n");
      return std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0 ? 0 : 2;
    }
  }
  std::string driver = veldrane::host::DefaultDriverPath();  // BUILD/bench/../lib/...
  std::string host = driver.substr(0, driver.rfind("/lib/")) + "/bin/veldrane-host";
  signal(SIGPIPE, SIG_IGN);
  char pattern[] = "/tmp/veldrane-modbus-bench-XXXXXX";
  std::string dir = mkdtemp(pattern);
  std::string config = dir + "/line.cfg", link = dir + "/com1";
  WriteConfig(config);
  int master = -1, slave = -1;
  char name[128];
  if (openpty(&master, &slave, name, nullptr, nullptr) != 0 || symlink(name, link.c_str()) != 0) {
    std::fprintf(stderr, "modbus_bench: no pseudo-terminal\n");
    return 1;
  }
  fcntl(master, F_SETFL, O_NONBLOCK);
  LineReader line(master);

  int port = FreePort();
  std::vector<std::string> args = {
      host, "run", config, "--plain", "--modbus", "tcp://127.0.0.1:" + std::to_string(port)};
  std::string env_ports = "VELDRANE_PORTS=" + dir;
  std::vector<char*> envp;
  for (char** e = environ; *e; ++e) envp.push_back(*e);
  envp.push_back(env_ports.data());
  envp.push_back(nullptr);
  std::vector<char*> argvp;
  for (std::string& a : args) argvp.push_back(a.data());
  argvp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  if (posix_spawn(&pid, host.c_str(), &actions, nullptr, argvp.data(), envp.data()) != 0) {
    std::fprintf(stderr, "modbus_bench: cannot start %s\n", host.c_str());
    return 1;
  }
  posix_spawn_file_actions_destroy(&actions);
  modbus_t* probe = nullptr;
  for (int i = 0; i < 100 && probe == nullptr; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    probe = Connect(port);
  }
  if (probe == nullptr) {
    std::fprintf(stderr, "modbus_bench: the runner does not listen on %d\n", port);
    kill(pid, SIGKILL);
    return 1;
  }

  std::vector<Throughput> rates;
  for (int clients : {1, 4}) rates.push_back(MeasureThroughput(port, pid, clients, seconds));

  // Latency: station k % 50 gets 2000 + k, one float32 write each.
  std::this_thread::sleep_for(std::chrono::seconds(4));  // the throughput's frames go out
  std::vector<std::pair<int, Clock::time_point>> written;
  std::mt19937 random(8);
  std::uniform_int_distribution<int> gap_ms(200, 400);
  for (int k = 0; k < changes; ++k) {
    uint16_t r[2];
    SetFloat(r, static_cast<float>(2000 + k));
    if (modbus_write_registers(probe, 2 * (k % kStations), 2, r) == 2) {
      written.emplace_back(k, Clock::now());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(gap_ms(random)));
  }
  std::this_thread::sleep_for(std::chrono::seconds(8));  // the last changes' frames
  modbus_close(probe);
  modbus_free(probe);
  kill(pid, SIGTERM);
  int status = 0;
  waitpid(pid, &status, 0);
  std::vector<Seen> frames = line.frames();
  close(slave);
  unlink(link.c_str());
  unlink(config.c_str());
  rmdir(dir.c_str());

  std::vector<double> latency;
  double frame_bytes = 0;
  int missed = 0;
  for (const auto& [k, at] : written) {
    auto frame = std::find_if(frames.begin(), frames.end(), [&, k = k](const Seen& s) {
      return s.station == k % kStations + 1 && s.value == 2000 + k && s.at >= at;
    });
    if (frame == frames.end()) {
      ++missed;
      continue;
    }
    latency.push_back(Ms(frame->at - at));
    frame_bytes = static_cast<double>(frame->bytes);
  }
  double frame_ms = frame_bytes * 10 * 1000 / 9600;  // 8N1: 10 bits a character
  double collect_ms = kCollectEverySeconds * 1000 + kPassMs;
  double cycle_ms = kStations * (frame_ms + kPauseMs);

  std::printf("veldrane-host --modbus, one line of %d stations (kind 1, 9600 8N1)\n\n", kStations);
  std::printf(
      "function 16 of 100 registers (50 float32), each client as fast as answered, %.0f s:\n",
      seconds);
  for (const Throughput& t : rates) {
    std::printf("  %d client%s  %8.0f writes/s (%8.0f values/s)  runner CPU %5.1f%% of a core%s\n",
                t.clients, t.clients == 1 ? " " : "s", t.writes_per_s, t.writes_per_s * kStations,
                100 * t.cpu_share, t.failed ? "  (some writes failed)" : "");
  }
  std::printf(
      "\nwrite answered -> the frame's last byte on the line: %zu changes (%d not seen)\n"
      "  median %.0f ms, p99 %.0f ms, max %.0f ms; the engine's own bound %.0f ms (up to %.0f ms\n"
      "  until a pass takes the change, then %d frames of %.1f ms + %.0f ms pause)\n",
      latency.size(), missed, Percentile(latency, 0.5), Percentile(latency, 0.99),
      latency.empty() ? 0 : *std::max_element(latency.begin(), latency.end()),
      collect_ms + cycle_ms, collect_ms, kStations, frame_ms, kPauseMs);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}
