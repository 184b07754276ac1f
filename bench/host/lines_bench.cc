// One runner with many lines: veldrane-host run with 32 configurations of 256 stations each
// (by default), every line on a local pseudo-terminal (or a tcp:// port-map entry with a local
// listener) that the benchmark drains, so no line ever blocks. Measured from /proc for the
// runner's process: its CPU time as a share of one core while no value changes (the engine's
// passes, the minute's refresh of every meter) and while every value changes every second (all
// 8192 tags through a --values FIFO), and its resident memory (VmRSS, and the peak VmHWM).
//
//   build/release/bench/lines_bench [--lines N] [--stations N] [--idle S] [--load S]
//                                   [--transport pty|tcp] [--live] [--mqtt [--uplink BYTES]]
//                                   [--web N]
//
// With --web N the runner serves its live page and N event streams watch it as browsers do;
// the benchmark then also measures /api/status's requests per second and the time from a value
// written to the FIFO to the event that carries it.
//
// Targets: idle under 1% of a core (under 2% with ten watchers of the page), resident memory
// under 64 MB.
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/host/bench_broker.h"
#include "bench/host/slow_uplink.h"
#include "bench/host/web_watchers.h"
#include "config/doc.h"
#include "host/loader/driver_module.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  int lines = 32;
  int stations = 256;
  double warmup = 20;  // the first pass sends every meter its value: 256 frames take 13 s
  double idle = 60;    // a minute holds one refresh of every meter
  double load = 60;
  std::string transport = "pty";
  bool live = false;
  bool mqtt = false;
  int web = -1;    // event streams watching the live page; -1: no web server
  int uplink = 0;  // bytes a second from the runner to the broker; 0: no limit
  std::string host;
};

void Usage() {
  std::printf(
      "Usage: lines_bench [OPTIONS]\n"
      "\n"
      "Runs veldrane-host with many lines of meters and measures its CPU share of one core\n"
      "and its resident memory, idle and while every value changes every second.\n"
      "\n"
      "  --lines N          lines (configurations), each on its own port (default 32)\n"
      "  --stations N       stations on each line, 1 to 256 (default 256)\n"
      "  --warmup S         seconds before measuring: the first values go out (default 20)\n"
      "  --idle S           seconds measured without value changes (default 60)\n"
      "  --load S           seconds measured with every value changing every second\n"
      "                     (default 60)\n"
      "  --transport T      pty: each line a pseudo-terminal (default); tcp: each line a\n"
      "                     tcp://127.0.0.1:PORT port-map entry with a local listener\n"
      "  --live             the runner's live table on a terminal of 50 rows\n"
      "  --mqtt             a local mosquitto broker: the runner publishes every station's\n"
      "                     state (the states it hands out a second are counted)\n"
      "  --uplink BYTES     with --mqtt: the runner reaches the broker through a loopback\n"
      "                     proxy that carries at most BYTES a second its way (a slow\n"
      "                     link: memory must stay flat while states are dropped)\n"
      "  --web N            the runner's live page with N event streams watching it (0 or\n"
      "                     more); also /api/status's requests per second and the time\n"
      "                     from a value to its event\n"
      "  --host PATH        the runner (default: ../bin/veldrane-host beside this program)\n"
      "  -h, --help         this help\n");
}

bool ParseOptions(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    auto number = [&](double* out) {
      const char* v = value();
      char* end = nullptr;
      double d = v ? std::strtod(v, &end) : -1;
      if (!v || *end != '\0' || !(d >= 0)) return false;
      *out = d;
      return true;
    };
    double n = 0;
    if (arg == "-h" || arg == "--help") {
      Usage();
      std::exit(0);
    } else if (arg.rfind("--benchmark", 0) == 0) {
      continue;  // ./dev bench passes Google Benchmark's options to every benchmark
    } else if (arg == "--lines" && number(&n) && n >= 1 && n <= 36) {
      o->lines = static_cast<int>(n);
    } else if (arg == "--stations" && number(&n) && n >= 1 && n <= 256) {
      o->stations = static_cast<int>(n);
    } else if (arg == "--warmup" && number(&o->warmup)) {
    } else if (arg == "--idle" && number(&o->idle)) {
    } else if (arg == "--load" && number(&o->load)) {
    } else if (arg == "--transport" && i + 1 < argc) {
      o->transport = argv[++i];
      if (o->transport != "pty" && o->transport != "tcp") return false;
    } else if (arg == "--live") {
      o->live = true;
    } else if (arg == "--mqtt") {
      o->mqtt = true;
    } else if (arg == "--web" && number(&n) && n <= 1000) {
      o->web = static_cast<int>(n);
    } else if (arg == "--uplink" && number(&n) && n >= 100) {
      o->uplink = static_cast<int>(n);
    } else if (arg == "--host" && i + 1 < argc) {
      o->host = argv[++i];
    } else {
      std::fprintf(stderr, "lines_bench: bad option '%s' (--help lists them)\n", arg.c_str());
      return false;
    }
  }
  return true;
}

std::string TagOf(int line, int station) {
  return "L" + std::to_string(line) + "S" + std::to_string(station);
}

// Line n (from 1) on COMn: stations 0 to N-1 of kind 1 (whole numbers), tag LnSi each.
void WriteConfig(const std::string& path, int line, int stations) {
  CVeldraneDoc doc;
  doc.Port().port_index = line - 1;
  for (int i = 0; i < stations; ++i) {
    auto station = std::make_unique<CStationInfo>();
    station->name.Format("S%03d", i);
    station->number = i;
    station->kind = 1;
    station->tag_name = TagOf(line, i).c_str();
    doc.Stations().push_back(std::move(station));
  }
  doc.SaveFile(path.c_str());
}

// The stations' state messages the broker hands out: a mosquitto_sub of the status topics,
// its lines counted on a thread of its own.
class StatusCount {
 public:
  bool Start(int port) {
    int fds[2];
    if (pipe(fds) != 0) return false;
    std::string p = std::to_string(port);
    const char* argv[] = {
        "mosquitto_sub", "-h", "127.0.0.1", "-p", p.c_str(), "-t", "veldrane/status/bench/+/+",
        nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    bool ok = posix_spawnp(&pid_, "mosquitto_sub", &actions, nullptr,
                           const_cast<char* const*>(argv), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (!ok) {
      close(fds[0]);
      return false;
    }
    thread_ = std::thread([this, fd = fds[0]] {
      char buffer[65536];
      ssize_t n;
      while ((n = read(fd, buffer, sizeof buffer)) > 0) {
        count_ += static_cast<uint64_t>(std::count(buffer, buffer + n, '\n'));
      }
      close(fd);
    });
    return true;
  }
  ~StatusCount() {
    if (pid_ > 0) kill(pid_, SIGTERM), waitpid(pid_, nullptr, 0);
    if (thread_.joinable()) thread_.join();
  }
  uint64_t count() const { return count_.load(); }

 private:
  pid_t pid_ = -1;
  std::thread thread_;
  std::atomic<uint64_t> count_{0};
};

// The far ends of the lines, read and thrown away on a thread of their own: the bytes that
// reached each line.
class LineDrain {
 public:
  ~LineDrain() { Stop(); }
  // A pseudo-terminal for a line: the name of the end the driver opens. The benchmark keeps
  // that end open too, so that the other end never reads as hung up.
  std::string AddPty() {
    int master = -1, slave = -1;
    char name[128];
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) return "";
    fcntl(master, F_SETFL, O_NONBLOCK);
    slaves_.push_back(slave);
    fds_.push_back({master, lines_++, false});
    bytes_.push_back(0);
    return name;
  }
  // A listener on a loopback port for a line: its port number; each connection is drained.
  int AddListener() {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), size) != 0 || listen(fd, 4) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size) != 0) {
      close(fd);
      return -1;
    }
    listeners_.push_back({fd, lines_++, true});
    bytes_.push_back(0);
    return ntohs(a.sin_port);
  }
  void Start() {
    thread_ = std::thread([this] { Run(); });
  }
  void Stop() {
    done_ = true;
    if (thread_.joinable()) thread_.join();
    for (const Fd& f : fds_) close(f.fd);
    for (const Fd& f : listeners_) close(f.fd);
    for (int fd : slaves_) close(fd);
    fds_.clear();
    listeners_.clear();
    slaves_.clear();
  }
  std::vector<uint64_t> Bytes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return bytes_;
  }
  // Frames seen on all lines: each station's frame (kind 1) ends in a carriage return.
  uint64_t Frames() const { return frames_.load(); }

 private:
  struct Fd {
    int fd;
    int line;
    bool socket;
  };
  void Run() {
    char buffer[4096];
    while (!done_) {
      std::vector<pollfd> polls;
      for (const Fd& f : fds_) polls.push_back({f.fd, POLLIN, 0});
      for (const Fd& f : listeners_) polls.push_back({f.fd, POLLIN, 0});
      if (poll(polls.data(), polls.size(), 100) <= 0) continue;
      size_t drained = fds_.size();
      // Backwards: a connection accepted goes to the end and one closed leaves, neither moving
      // what is still to be seen.
      for (size_t i = polls.size(); i-- > 0;) {
        if (!(polls[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        if (i >= drained) {
          const Fd& listener = listeners_[i - drained];
          int conn = accept4(listener.fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
          if (conn >= 0) fds_.push_back({conn, listener.line, true});
          continue;
        }
        ssize_t n = read(fds_[i].fd, buffer, sizeof buffer);
        if (n > 0) {
          std::lock_guard<std::mutex> lock(mutex_);
          bytes_[static_cast<size_t>(fds_[i].line)] += static_cast<uint64_t>(n);
          frames_ += static_cast<uint64_t>(std::count(buffer, buffer + n, '\r'));
        } else if (fds_[i].socket && (n == 0 || (errno != EAGAIN && errno != EINTR))) {
          close(fds_[i].fd);
          fds_.erase(fds_.begin() + static_cast<long>(i));
        }
      }
    }
  }

  std::vector<Fd> fds_, listeners_;
  std::vector<int> slaves_;
  int lines_ = 0;
  std::mutex mutex_;
  std::vector<uint64_t> bytes_;
  std::atomic<uint64_t> frames_{0};
  std::atomic<bool> done_{false};
  std::thread thread_;
};

// The runner's process as /proc shows it.
double CpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t at = text.rfind(')');
  if (at == std::string::npos) return -1;
  // After the name: state (3), then fields 4 to 13, then utime (14) and stime (15).
  std::vector<std::string> fields;
  size_t pos = at + 2;
  while (pos < text.size() && fields.size() < 13) {
    size_t end = text.find(' ', pos);
    fields.push_back(text.substr(pos, end - pos));
    pos = end + 1;
  }
  if (fields.size() < 13) return -1;
  double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
  return (std::stod(fields[11]) + std::stod(fields[12])) / ticks;
}

// A field of /proc/PID/status in MB ("VmRSS", "VmHWM").
double MemoryMb(pid_t pid, const std::string& field) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(field + ":", 0) == 0) return std::atof(line.c_str() + field.size() + 1) / 1024;
  }
  return -1;
}

int Threads(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("Threads:", 0) == 0) return std::atoi(line.c_str() + 8);
  }
  return -1;
}

struct Phase {
  std::string name;
  double seconds = 0;
  double cpu_share = 0;  // of one core, over the phase
  double busiest = 0;    // the busiest second's share
  double rss_mb = 0;
  double hwm_mb = 0;
  uint64_t line_bytes = 0;  // reached the lines in the phase
  uint64_t frames = 0;      // frames on the lines in the phase
  uint64_t states = 0;      // state messages from the broker in the phase (with --mqtt)
  int quiet_lines = 0;      // lines that got nothing in the phase
};

// Measures the runner for `seconds`, second by second; `each_second` runs at the start of
// every second (the load's values).
Phase Measure(const std::string& name, pid_t pid, double seconds, LineDrain& drain,
              const StatusCount& states, const std::function<void(int)>& each_second) {
  Phase p;
  p.name = name;
  uint64_t states_before = states.count(), frames_before = drain.Frames();
  std::vector<uint64_t> bytes_before = drain.Bytes();
  auto start = Clock::now();
  double cpu_start = CpuSeconds(pid), last_cpu = cpu_start;
  auto last = start;
  for (int second = 0; std::chrono::duration<double>(Clock::now() - start).count() < seconds;
       ++second) {
    if (each_second) each_second(second);
    std::this_thread::sleep_until(start + std::chrono::seconds(second + 1));
    double cpu = CpuSeconds(pid);
    auto now = Clock::now();
    p.busiest =
        std::max(p.busiest, (cpu - last_cpu) / std::chrono::duration<double>(now - last).count());
    last_cpu = cpu;
    last = now;
  }
  p.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  p.cpu_share = (CpuSeconds(pid) - cpu_start) / p.seconds;
  p.states = states.count() - states_before;
  p.frames = drain.Frames() - frames_before;
  p.rss_mb = MemoryMb(pid, "VmRSS");
  p.hwm_mb = MemoryMb(pid, "VmHWM");
  std::vector<uint64_t> bytes_after = drain.Bytes();
  for (size_t i = 0; i < bytes_after.size(); ++i) {
    uint64_t got = bytes_after[i] - bytes_before[i];
    p.line_bytes += got;
    if (got == 0) ++p.quiet_lines;
  }
  return p;
}

// What the runner prints, kept for a report when it fails; a terminal of its own with --live.
class RunnerOutput {
 public:
  explicit RunnerOutput(bool terminal) {
    if (terminal) {
      winsize size{};
      size.ws_row = 50;
      size.ws_col = 160;
      int slave = -1;
      if (openpty(&read_, &slave, nullptr, nullptr, &size) != 0) std::abort();
      write_ = slave;
    } else {
      int fds[2];
      if (pipe(fds) != 0) std::abort();
      read_ = fds[0];
      write_ = fds[1];
    }
    thread_ = std::thread([this] {
      char buffer[4096];
      for (;;) {
        ssize_t n = read(read_, buffer, sizeof buffer);
        if (n <= 0) break;
        std::lock_guard<std::mutex> lock(mutex_);
        bytes_ += static_cast<size_t>(n);
        tail_.append(buffer, static_cast<size_t>(n));
        if (tail_.size() > 8192) tail_.erase(0, tail_.size() - 8192);
        KeepBrokerNews(buffer, static_cast<size_t>(n));
      }
    });
  }
  ~RunnerOutput() {
    CloseWriteEnd();
    if (thread_.joinable()) thread_.join();
    close(read_);
  }
  int write_end() const { return write_; }
  void CloseWriteEnd() {
    if (write_ >= 0) close(write_);
    write_ = -1;
  }
  std::string tail() {
    std::lock_guard<std::mutex> lock(mutex_);
    return tail_;
  }
  // What the runner said about its broker link (connections, losses, a slow link) and its
  // frames in all (sent, failed), at most 20 lines.
  std::vector<std::string> broker_news() {
    std::lock_guard<std::mutex> lock(mutex_);
    return news_;
  }

 private:
  int read_ = -1, write_ = -1;
  std::mutex mutex_;
  // Guarded by mutex_.
  void KeepBrokerNews(const char* text, size_t size) {
    for (size_t i = 0; i < size; ++i) {
      if (text[i] != '\n') {
        line_ += text[i];
        continue;
      }
      bool wanted = line_.find("MQTT:") != std::string::npos || line_.rfind("all lines:", 0) == 0;
      if (wanted && news_.size() < 20) news_.push_back(line_);
      line_.clear();
    }
  }

  std::string tail_;
  std::string line_;
  std::vector<std::string> news_;
  size_t bytes_ = 0;
  std::thread thread_;
};

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseOptions(argc, argv, &o)) return 2;
  if (o.host.empty()) {
    std::string driver = veldrane::host::DefaultDriverPath();  // BUILD/bench/../lib/...
    o.host = driver.substr(0, driver.rfind("/lib/")) + "/bin/veldrane-host";
  }
  signal(SIGPIPE, SIG_IGN);
  char pattern[] = "/tmp/veldrane-lines-bench-XXXXXX";
  std::string dir = mkdtemp(pattern);
  std::string ports = dir + "/ports", fifo = dir + "/values";
  mkdir(ports.c_str(), 0755);
  mkfifo(fifo.c_str(), 0600);

  LineDrain drain;
  std::vector<std::string> args = {o.host, "run"};
  for (int n = 1; n <= o.lines; ++n) {
    std::string entry = ports + "/com" + std::to_string(n), target;
    if (o.transport == "pty") {
      target = drain.AddPty();
    } else {
      int port = drain.AddListener();
      target = port > 0 ? "tcp://127.0.0.1:" + std::to_string(port) : "";
    }
    if (target.empty() || symlink(target.c_str(), entry.c_str()) != 0) {
      std::fprintf(stderr, "lines_bench: cannot make line %d\n", n);
      return 1;
    }
    std::string config = dir + "/line" + std::to_string(n) + ".cfg";
    WriteConfig(config, n, o.stations);
    args.push_back(config);
  }
  args.insert(args.end(), {"--values", fifo});
  if (!o.live) args.push_back("--plain");
  std::unique_ptr<veldrane::bench::Broker> broker;
  std::unique_ptr<veldrane::bench::SlowUplink> uplink;
  if (o.mqtt) {
    broker = std::make_unique<veldrane::bench::Broker>(dir, true);
    if (!broker->Start()) {
      std::fprintf(stderr, "lines_bench: no mosquitto broker could be started\n");
      return 1;
    }
    int port = broker->port();
    if (o.uplink > 0) {
      uplink = std::make_unique<veldrane::bench::SlowUplink>(port);
      uplink->set_rate(o.uplink);
      port = uplink->port();
    }
    args.insert(args.end(),
                {"--mqtt", "mqtt://127.0.0.1:" + std::to_string(port), "--mqtt-name", "bench"});
  }
  int web_port = 0;
  if (o.web >= 0) {
    // A free loopback port for the page: bound and let go just before the runner takes it.
    int probe = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    bind(probe, reinterpret_cast<sockaddr*>(&a), size);
    getsockname(probe, reinterpret_cast<sockaddr*>(&a), &size);
    web_port = ntohs(a.sin_port);
    close(probe);
    args.insert(args.end(), {"--http", "127.0.0.1:" + std::to_string(web_port)});
  }
  drain.Start();
  StatusCount states;
  if (broker && !states.Start(broker->port())) {
    std::fprintf(stderr, "lines_bench: cannot start mosquitto_sub to count the states\n");
    return 1;
  }

  // The runner, its output drained.
  RunnerOutput output(o.live);
  std::string env_ports = "VELDRANE_PORTS=" + ports;
  std::vector<char*> envp;
  for (char** e = environ; *e; ++e) envp.push_back(*e);
  envp.push_back(env_ports.data());
  envp.push_back(nullptr);
  std::vector<char*> argvp;
  for (std::string& a : args) argvp.push_back(a.data());
  argvp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, output.write_end(), 1);
  posix_spawn_file_actions_adddup2(&actions, output.write_end(), 2);
  pid_t pid = -1;
  if (posix_spawn(&pid, o.host.c_str(), &actions, nullptr, argvp.data(), envp.data()) != 0) {
    std::fprintf(stderr, "lines_bench: cannot start %s\n", o.host.c_str());
    return 1;
  }
  posix_spawn_file_actions_destroy(&actions);
  output.CloseWriteEnd();

  std::printf("veldrane-host with %d lines of %d stations on %s%s%s; warming up %.0f s\n", o.lines,
              o.stations, o.transport == "pty" ? "pseudo-terminals" : "tcp:// entries",
              o.live ? ", live table" : "", o.mqtt ? ", MQTT states" : "", o.warmup);
  std::fflush(stdout);
  std::this_thread::sleep_for(std::chrono::duration<double>(o.warmup));
  int early = 0;
  if (waitpid(pid, &early, WNOHANG) == pid) {
    std::fprintf(stderr, "lines_bench: the runner ended early (exit status %d):\n%s\n",
                 WIFEXITED(early) ? WEXITSTATUS(early) : 128 + WTERMSIG(early),
                 output.tail().c_str());
    return 1;
  }
  veldrane::bench::WebWatchers watchers(web_port);
  if (o.web > 0 && !watchers.Start(o.web)) {
    std::fprintf(stderr, "lines_bench: the page's event streams could not connect\n");
    return 1;
  }
  std::vector<Phase> phases;
  phases.push_back(Measure("idle", pid, o.idle, drain, states, nullptr));

  // The page: requests per second of the whole status, and a value's way to the event streams.
  double status_rate = -1;
  size_t status_bytes = 0;
  std::vector<double> latencies;
  int values = open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
  if (o.web >= 0) {
    status_rate = veldrane::bench::RequestsPerSecond(web_port, "/api/status", 5, &status_bytes);
    for (int i = 0; o.web > 0 && i < 10; ++i) {
      // A value no station had: its event names it.
      std::string value = std::to_string(900000 + i * 17);
      std::string line = TagOf(1, i) + " " + value + "\n";
      if (write(values, line.data(), line.size()) != static_cast<ssize_t>(line.size())) break;
      latencies.push_back(watchers.WaitFor("\"value\":" + value + ".0", 5));
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
  }

  // Every value changes every second: one write of all the lines' 'TAG VALUE' lines.
  phases.push_back(Measure("every value each second", pid, o.load, drain, states, [&](int second) {
    std::string text;
    for (int n = 1; n <= o.lines; ++n) {
      for (int i = 0; i < o.stations; ++i) {
        text += TagOf(n, i) + " " + std::to_string((second * 7 + i) % 1000) + "\n";
      }
    }
    for (size_t at = 0; at < text.size();) {
      ssize_t w = write(values, text.data() + at, text.size() - at);
      if (w <= 0) break;
      at += static_cast<size_t>(w);
    }
  }));
  int threads = Threads(pid);
  close(values);
  uint64_t stream_bytes = watchers.bytes();
  watchers.Stop();

  auto stop_start = Clock::now();
  kill(pid, SIGTERM);
  int status = 0;
  for (int i = 0; i < 100 && waitpid(pid, &status, WNOHANG) != pid; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  double stop_s = std::chrono::duration<double>(Clock::now() - stop_start).count();
  if (stop_s >= 5) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  drain.Stop();
  if (broker) broker->Stop();
  std::string rm = "rm -rf '" + dir + "'";
  if (std::system(rm.c_str()) != 0) std::fprintf(stderr, "lines_bench: %s failed\n", rm.c_str());

  std::printf("\n%-26s %8s %12s %12s %9s %9s %14s %9s %9s\n", "phase", "seconds", "CPU (1 core)",
              "busiest 1 s", "RSS MB", "peak MB", "bytes on lines", "frames/s", "states/s");
  for (const Phase& p : phases) {
    std::printf(
        "%-26s %8.0f %11.2f%% %11.2f%% %9.1f %9.1f %14llu %9.1f %9.1f%s\n", p.name.c_str(),
        p.seconds, 100 * p.cpu_share, 100 * p.busiest, p.rss_mb, p.hwm_mb,
        static_cast<unsigned long long>(p.line_bytes), p.frames / p.seconds, p.states / p.seconds,
        p.quiet_lines ? (" (" + std::to_string(p.quiet_lines) + " lines got nothing)").c_str()
                      : "");
  }
  for (const std::string& line : output.broker_news()) std::printf("%s\n", line.c_str());
  double peak = std::max(phases[0].hwm_mb, phases[1].hwm_mb);
  std::printf("\nthreads %d; stopped %.2f s after SIGTERM, exit status %d\n", threads, stop_s,
              WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
  if (o.web >= 0) {
    std::printf(
        "web: %d event streams received %.1f MB; /api/status of %d stations: %.1f "
        "requests/s (%.2f MB each)\n",
        o.web, static_cast<double>(stream_bytes) / 1e6, o.lines * o.stations, status_rate,
        static_cast<double>(status_bytes) / 1e6);
    if (!latencies.empty()) {
      std::sort(latencies.begin(), latencies.end());
      std::printf("web: a value to its event on the streams: median %.0f ms, slowest %.0f ms%s\n",
                  1000 * latencies[latencies.size() / 2], 1000 * latencies.back(),
                  latencies.front() < 0 ? " (some never came)" : "");
    }
  }
  double idle_target = o.web >= 0 ? 0.02 : 0.01;
  std::printf("target idle under %.0f%% of a core: %s (%.2f%%)\n", 100 * idle_target,
              phases[0].cpu_share < idle_target ? "met" : "MISSED", 100 * phases[0].cpu_share);
  std::printf("target resident memory under 64 MB: %s (peak %.1f MB)\n",
              peak < 64 ? "met" : "MISSED", peak);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::printf("\nthe runner's last output:\n%s\n", output.tail().c_str());
  }
  return 0;
}
