// The running engine in real time, on a pseudo-terminal mapped as COM1 and the reference tag
// database, with 256 stations:
//  - IdleEngineCpu: the processor time of an engine whose 256 resolved tags do not change, over a
//    real-time window (getrusage), as a share of one core; target below 0.1 %.
//  - RefreshFrameSpacing: the frames of one full refresh as they arrive at the other end; the gap
//    after each frame (arrival to arrival less the frame's own character time, which the driver
//    waits for the transmitter) against the 50 ms the design allows; target: median within 1 ms.
//  - StopLatency: how long Stop (DrvStop) takes to return from an idle running engine.
//  - DeadLineStop: how long Stop takes to return while a refresh of 256 stations waits with the
//    RTS/CTS handshake for a CTS that never comes up (a pseudo-terminal has no modem lines, so
//    each frame would wait its full second); target: about one frame's bounds (1 s), whatever
//    the number of stations.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "comm/comm_engine.h"
#include "comm/comm_env.h"
#include "config/doc.h"
#include "driver/driver_instance.h"
#include "host/dbm/tag_db_api.h"
#include "hostlink/host_modules.h"
#include "platform/auto_reset_event.h"
#include "platform/clock/clock.h"
#include "tarko/host_tables.h"
#include "tarko/tagval.h"
#include "tests/support/test_pty.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kStations = 256;

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& tv) { return tv.tv_sec + tv.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// A pseudo-terminal mapped as COM1 for the process; its master side.
class Line {
 public:
  Line() {
    char pattern[] = "/tmp/veldrane-bench-XXXXXX";
    dir_ = mkdtemp(pattern);
    link_ = dir_ + "/com1";
    if (symlink(pty_.slave().c_str(), link_.c_str()) != 0) std::abort();
    setenv("VELDRANE_PORTS", dir_.c_str(), 1);
  }
  ~Line() {
    unsetenv("VELDRANE_PORTS");
    unlink(link_.c_str());
    rmdir(dir_.c_str());
  }
  int master() const { return pty_.master(); }

 private:
  veldrane::test::TestPty pty_;
  std::string dir_, link_;
};

// The reference tag database, opened by name as the driver opens it.
struct TagDb {
  TagDb() {
    void* module = dlopen(kDbmModuleName, RTLD_NOW | RTLD_LOCAL);
    if (!module) std::abort();
    table = static_cast<const TarkoFn*>(dlsym(module, kFuncTableName));
    reset = reinterpret_cast<decltype(&TagDbReset)>(dlsym(module, "TagDbReset"));
    define = reinterpret_cast<decltype(&TagDbDefine)>(dlsym(module, "TagDbDefine"));
    if (!table || !reset || !define) std::abort();
  }
  const TarkoFn* table;
  decltype(&TagDbReset) reset;
  decltype(&TagDbDefine) define;
};

TagDb& Db() {
  static TagDb db;
  return db;
}

// 256 kind-1 stations whose tags exist and carry no value yet, so nothing changes.
void Fill(CVeldraneDoc& doc) {
  Db().reset();
  veldrane::SetDbmTable(Db().table);
  for (int i = 0; i < kStations; ++i) {
    auto station = std::make_unique<CStationInfo>();
    station->name.Format("S%03d", i);
    station->number = i;
    station->kind = 1;
    station->tag_name.Format("TAG%03d", i);
    Db().define(station->tag_name, kTagTypeNone);
    doc.Stations().push_back(std::move(station));
  }
}

bool Start(veldrane::DriverInstance& instance) {
  if (instance.OpenPort() != 0) return false;
  instance.ResolveTags();
  instance.SetActive(nullptr, 1);
  return instance.GetEngine()->Running();
}

void IdleEngineCpu(benchmark::State& state) {
  const auto window = std::chrono::seconds(state.range(0));
  Line line;
  for (auto _ : state) {
    veldrane::DriverInstance instance;
    CVeldraneDoc& doc = instance.doc();
    Fill(doc);
    if (!Start(instance)) {
      state.SkipWithError("the port did not open");
      return;
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));  // the thread's first passes
    double cpu = CpuSeconds();
    auto start = Clock::now();
    std::this_thread::sleep_for(window);
    double used = CpuSeconds() - cpu;
    double real = Seconds(Clock::now() - start);
    state.SetIterationTime(real);
    state.counters["cpu_percent_of_core"] = 100.0 * used / real;
    state.counters["cpu_us_per_second"] = 1e6 * used / real;
    instance.Stop();
  }
}
BENCHMARK(IdleEngineCpu)->Arg(20)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// The system's clock, except that the calendar runs 60 s ahead after its first reading: the
// transmit loop notes its start, and its next pass is the first refresh.
class RefreshSoonClock final : public veldrane::platform::Clock {
 public:
  uint32_t CalendarSeconds() override {
    uint32_t now = System().CalendarSeconds();
    return first_.exchange(false) ? now : now + 60;
  }
  uint32_t TickMs() override { return System().TickMs(); }
  void SleepMs(uint32_t ms) override { System().SleepMs(ms); }
  bool SleepUnlessStopped(uint32_t ms, veldrane::platform::StopSignal& stop) override {
    return System().SleepUnlessStopped(ms, stop);
  }
  void RaiseStop(veldrane::platform::StopSignal& stop) override { System().RaiseStop(stop); }
  void WaitFor(veldrane::platform::AutoResetEvent& event) override { System().WaitFor(event); }

 private:
  static Clock& System() { return veldrane::platform::SystemClock(); }
  std::atomic<bool> first_{true};
};

class RefreshSoonEnvironment final : public veldrane::comm::CommEnvironment {
 public:
  veldrane::platform::Clock& GetClock() override { return clock_; }
  std::unique_ptr<veldrane::platform::SerialDevice> NewSerialDevice() override {
    return veldrane::platform::NewSystemSerialDevice();
  }

 private:
  RefreshSoonClock clock_;
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

double Percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[std::min(v.size() - 1, static_cast<size_t>(p * v.size()))];
}

void RefreshFrameSpacing(benchmark::State& state) {
  Line line;
  RefreshSoonEnvironment environment;
  veldrane::comm::CommEnvironment* previous = veldrane::comm::SetEnvironment(&environment);
  for (auto _ : state) {
    veldrane::DriverInstance instance;
    CVeldraneDoc& doc = instance.doc();
    Fill(doc);
    const double char_us = 1e6 * 10 / doc.Port().BaudRate();  // 8N1: 10 bits a character
    // Each frame's arrival and length; the line is quiet between frames for tens of ms.
    std::vector<std::pair<Clock::time_point, size_t>> frames;
    std::atomic<bool> done{false};
    std::thread reader([&] {
      std::string frame;
      while (frames.size() < kStations && !done.load()) {
        pollfd p{line.master(), POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        char buffer[64];
        ssize_t n = read(line.master(), buffer, sizeof buffer);
        if (n <= 0) {
          usleep(1000);  // the other end is not open yet
          continue;
        }
        auto now = Clock::now();
        for (ssize_t i = 0; i < n; ++i) {
          if (frame.empty()) frames.push_back({now, 0});
          frame += buffer[i];
          if (buffer[i] == '\r') {
            frames.back().second = frame.size();
            frame.clear();
          }
        }
      }
    });
    auto start = Clock::now();
    if (!Start(instance)) {
      done = true;
      reader.join();
      state.SkipWithError("the port did not open");
      break;
    }
    reader.join();
    state.SetIterationTime(Seconds(Clock::now() - start));
    instance.Stop();

    std::vector<double> gaps, spacing;
    for (size_t i = 1; i < frames.size(); ++i) {
      double ms = 1e3 * Seconds(frames[i].first - frames[i - 1].first);
      spacing.push_back(ms);
      gaps.push_back(ms - frames[i - 1].second * char_us / 1e3);
    }
    state.counters["frames"] = static_cast<double>(frames.size());
    state.counters["gap_median_ms"] = Median(gaps);
    state.counters["gap_p90_ms"] = Percentile(gaps, 0.9);
    state.counters["gap_max_ms"] = Percentile(gaps, 1.0);
    state.counters["spacing_median_ms"] = Median(spacing);
  }
  veldrane::comm::SetEnvironment(previous);
}
BENCHMARK(RefreshFrameSpacing)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

void StopLatency(benchmark::State& state) {
  Line line;
  veldrane::DriverInstance instance;
  CVeldraneDoc& doc = instance.doc();
  Fill(doc);
  if (instance.OpenPort() != 0) {
    state.SkipWithError("the port did not open");
    return;
  }
  instance.ResolveTags();
  std::vector<double> latencies;
  int i = 0;
  for (auto _ : state) {
    instance.SetActive(nullptr, 1);
    // Stops land anywhere in the 500 ms pass period.
    std::this_thread::sleep_for(std::chrono::milliseconds(1000 + 37 * (i++ % 14)));
    auto start = Clock::now();
    instance.Stop();
    double seconds = Seconds(Clock::now() - start);
    latencies.push_back(seconds * 1e3);
    state.SetIterationTime(seconds);
  }
  state.counters["stop_median_ms"] = Median(latencies);
  state.counters["stop_max_ms"] = Percentile(latencies, 1.0);
}
BENCHMARK(StopLatency)->Iterations(14)->UseManualTime()->Unit(benchmark::kMillisecond);

void DeadLineStop(benchmark::State& state) {
  Line line;
  std::vector<double> latencies;
  int i = 0;
  for (auto _ : state) {
    // A clock of its own for each engine: its first pass is the refresh.
    RefreshSoonEnvironment environment;
    veldrane::comm::CommEnvironment* previous = veldrane::comm::SetEnvironment(&environment);
    veldrane::DriverInstance instance;
    CVeldraneDoc& doc = instance.doc();
    Fill(doc);
    doc.Port().SetRtsCts(true);
    if (!Start(instance)) {
      state.SkipWithError("the port did not open");
      break;
    }
    // The refresh marks every station; stops land anywhere in a frame's wait for CTS.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500 + 170 * (i++ % 6)));
    auto start = Clock::now();
    instance.Stop();
    double seconds = Seconds(Clock::now() - start);
    latencies.push_back(seconds * 1e3);
    state.SetIterationTime(seconds);
    veldrane::comm::SetEnvironment(previous);  // the document, made later, goes first
  }
  state.counters["stations"] = kStations;
  state.counters["stop_median_ms"] = Median(latencies);
  state.counters["stop_max_ms"] = Percentile(latencies, 1.0);
}
BENCHMARK(DeadLineStop)->Iterations(6)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
