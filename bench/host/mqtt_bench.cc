// Latency of a value from an MQTT publish to the last byte of its frame on the meter's line,
// over the whole road: a mosquitto broker of the benchmark's own on a loopback port, the
// runner's MQTT gateway, the reference tag database, Veldrane.so loaded as a host loads it, and
// a pseudo-terminal as COM1 read through the meter's frame decoder. 16 stations of kind 1 at
// 9600 8N1; each change goes to the next station 200 to 400 ms after the one before, so a
// station's change is sent before its next one. Each latency is split where the value reaches
// the tag database:
//   broker share: publish -> tag set (client, broker and the runner's link)
//   engine share: tag set -> the frame's last byte (the engine's schedule)
// and printed beside the engine's own bound: changes are taken only in the passes (every
// 500 ms) that fall in a second divisible by 3, and each frame ahead in the send cycle costs its
// time on the line and a 50 ms pause. Run against the broker as it comes (broker_nodelay:0) and
// with set_tcp_nodelay (broker_nodelay:1), whose difference is the broker's own batching.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <mosquitto.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/host/bench_broker.h"
#include "bench/host/latency_figures.h"
#include "config/doc.h"
#include "host/dbm/tag_db_api.h"
#include "host/loader/driver_module.h"
#include "host/runner/mqtt/mqtt_gateway.h"
#include "tarko/tagval.h"
#include "tests/support/test_pty.h"
#include "tools/meter/decoder.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kStations = 16;
constexpr double kPassMs = 500, kCollectEverySeconds = 3, kPauseMs = 50;

using veldrane::bench::Ms;
using veldrane::bench::Percentile;

// The configuration: stations S01 to S16 of kind 1, numbers 1 to 16, tags T01 to T16, COM1.
std::string TagOf(int station) {
  char tag[8];
  std::snprintf(tag, sizeof tag, "T%02d", station);
  return tag;
}

void WriteConfig(const std::string& path) {
  CVeldraneDoc doc;
  for (int i = 1; i <= kStations; ++i) {
    auto station = std::make_unique<CStationInfo>();
    station->name.Format("S%02d", i);
    station->number = i;
    station->kind = 1;
    station->tag_name = TagOf(i).c_str();
    doc.Stations().push_back(std::move(station));
  }
  doc.SaveFile(path.c_str());
}

struct Seen {
  int station;
  double value;
  Clock::time_point at;
  size_t bytes;
};

void MqttPublishToFrame(benchmark::State& state) {
  const int changes = static_cast<int>(state.range(0));
  char pattern[] = "/tmp/veldrane-mqtt-bench-XXXXXX";
  std::string dir = mkdtemp(pattern);
  veldrane::test::TestPty pty;
  std::string link = dir + "/com1", config = dir + "/line.cfg";
  if (symlink(pty.slave().c_str(), link.c_str()) != 0) std::abort();
  setenv("VELDRANE_PORTS", dir.c_str(), 1);
  WriteConfig(config);
  veldrane::bench::Broker broker(dir, state.range(1) != 0);
  if (!broker.Start()) {
    state.SkipWithError("no mosquitto broker could be started");
    return;
  }

  TagDbReset();
  std::vector<veldrane::host::StationRow> rows;
  for (int i = 1; i <= kStations; ++i) {
    TagDbDefine(TagOf(i).c_str(), kTagTypeAnalog);
    char name[8];
    std::snprintf(name, sizeof name, "S%02d", i);
    rows.push_back({name, 1, i, 0, TagOf(i)});
  }
  veldrane::host::DriverModule driver;
  std::string error;
  if (!driver.Load(veldrane::host::DefaultDriverPath(), &error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  int32_t index = driver.Open(config.c_str());
  if (index < 0 || driver.OpenPort(index) != 0) {
    state.SkipWithError("the configuration or its port did not open");
    return;
  }
  driver.ResolveTags(index);
  driver.SetActive(index, nullptr, 1);

  // The frames as they complete on the line.
  std::mutex mutex;
  std::vector<Seen> frames;
  std::map<std::pair<std::string, double>, Clock::time_point> set_at;
  std::atomic<bool> done{false};
  std::thread reader([&] {
    veldrane::meter::FrameDecoder decoder;
    for (int i = 1; i <= kStations; ++i) decoder.SetStationKind(i, 1);
    std::vector<veldrane::meter::Decoded> out;
    while (!done.load()) {
      pollfd p{pty.master(), POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      uint8_t buffer[256];
      ssize_t n = read(pty.master(), buffer, sizeof buffer);
      if (n <= 0) continue;
      Clock::time_point now = Clock::now();
      out.clear();
      decoder.Feed(buffer, static_cast<size_t>(n), out);
      std::lock_guard<std::mutex> lock(mutex);
      for (const auto& d : out) {
        if (d.is_frame)
          frames.push_back({d.frame.station, d.frame.value, now, d.frame.bytes.size()});
      }
    }
  });

  veldrane::host::MqttOptions options;
  std::string url = "mqtt://127.0.0.1:" + std::to_string(broker.port());
  veldrane::host::SetMqttOption("--mqtt", url, &options, &error);
  veldrane::host::SetMqttOption("--mqtt-name", "bench", &options, &error);
  veldrane::host::FinishMqttOptions(&options, &error);
  veldrane::host::StatusLine line{"line", rows, [&](const veldrane::host::StationRow& s) {
                                    veldrane::host::StationStatus st;
                                    int32_t third = 0, fourth = 0;
                                    st.result = driver.GetStats(index, s.name.c_str(), &st.sent,
                                                                &st.failed, &third, &fourth);
                                    return st;
                                  }};
  veldrane::host::MqttGateway gateway(
      options, {line},
      [&](const std::string& tag, double value) {
        Clock::time_point now = Clock::now();
        TagDbSet(tag.c_str(), value, kTagTypeAnalog);
        std::lock_guard<std::mutex> lock(mutex);
        set_at.emplace(std::make_pair(tag, value), now);
      },
      [](veldrane::host::Priority, const std::string& text) {
        std::fprintf(stderr, "%s\n", text.c_str());
      });
  mosquitto_lib_init();
  mosquitto* publisher = mosquitto_new("veldrane-bench-publisher", true, nullptr);
  bool ready = gateway.Start(&error) && publisher != nullptr &&
               mosquitto_connect(publisher, "127.0.0.1", broker.port(), 10) == MOSQ_ERR_SUCCESS &&
               mosquitto_loop_start(publisher) == MOSQ_ERR_SUCCESS;
  for (int i = 0; ready && i < 100 && !gateway.link().connected(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ready = ready && gateway.link().connected();

  // Publish: station k % 16 gets the value 1000 + k.
  std::vector<std::pair<int, Clock::time_point>> published;
  std::mt19937 random(8);
  std::uniform_int_distribution<int> gap_ms(200, 400);
  auto wait = [&](Clock::duration d) {
    for (Clock::time_point end = Clock::now() + d; Clock::now() < end;) {
      gateway.Poll(Clock::now());  // the states go out as the runner sends them
      std::this_thread::sleep_for(
          std::min<Clock::duration>(end - Clock::now(), std::chrono::milliseconds(50)));
    }
  };
  for (auto _ : state) {
    auto start = Clock::now();
    for (int k = 0; ready && k < changes; ++k) {
      std::string tag = TagOf(k % kStations + 1), payload = std::to_string(1000 + k);
      published.emplace_back(k, Clock::now());
      mosquitto_publish(publisher, nullptr, ("veldrane/values/" + tag).c_str(),
                        static_cast<int>(payload.size()), payload.data(), 1, false);
      wait(std::chrono::milliseconds(gap_ms(random)));
    }
    wait(std::chrono::milliseconds(ready ? 5000 : 0));  // the last changes' frames
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
  }
  if (publisher != nullptr) {
    mosquitto_disconnect(publisher);
    mosquitto_loop_stop(publisher, false);
    mosquitto_destroy(publisher);
  }
  gateway.Stop();
  done = true;
  reader.join();
  driver.Stop(index);
  driver.Unload();
  broker.Stop();
  unlink(link.c_str());
  unlink(config.c_str());
  unlink((dir + "/broker.conf").c_str());
  unlink((dir + "/broker.log").c_str());
  rmdir(dir.c_str());
  unsetenv("VELDRANE_PORTS");
  if (!ready) {
    state.SkipWithError("the broker was not reached");
    return;
  }

  std::vector<double> broker_ms, engine_ms, total_ms;
  double frame_bytes = 0;
  int missed = 0;
  for (const auto& [k, at] : published) {
    int station = k % kStations + 1;
    double value = 1000 + k;
    auto set = set_at.find({TagOf(station), value});
    auto frame = std::find_if(frames.begin(), frames.end(), [&](const Seen& s) {
      return s.station == station && s.value == value;
    });
    if (set == set_at.end() || frame == frames.end()) {
      ++missed;
      continue;
    }
    broker_ms.push_back(Ms(set->second - at));
    engine_ms.push_back(Ms(frame->at - set->second));
    total_ms.push_back(Ms(frame->at - at));
    frame_bytes = static_cast<double>(frame->bytes);
  }
  // The engine's bound: the longest wait for a collecting pass, then a full send cycle.
  double frame_ms = frame_bytes * 10 * 1000 / 9600;  // 8N1: 10 bits a character
  double collect_ms = kCollectEverySeconds * 1000 + kPassMs;
  double cycle_ms = kStations * (frame_ms + kPauseMs);
  state.counters["changes"] = static_cast<double>(total_ms.size());
  state.counters["missed"] = missed;
  state.counters["broker_p50_ms"] = Percentile(broker_ms, 0.5);
  state.counters["broker_p99_ms"] = Percentile(broker_ms, 0.99);
  state.counters["engine_p50_ms"] = Percentile(engine_ms, 0.5);
  state.counters["engine_p99_ms"] = Percentile(engine_ms, 0.99);
  state.counters["total_p50_ms"] = Percentile(total_ms, 0.5);
  state.counters["total_p99_ms"] = Percentile(total_ms, 0.99);
  state.counters["engine_bound_ms"] = collect_ms + cycle_ms;
  std::printf(
      "MQTT publish to the frame's last byte: %zu changes on %d stations (%d not seen), "
      "broker set_tcp_nodelay %s\n"
      "                 median      p99\n"
      "  broker share %8.1f %8.1f ms  publish -> value in the tag database\n"
      "  engine share %8.1f %8.1f ms  tag database -> the frame's last byte on the line\n"
      "  total        %8.1f %8.1f ms\n"
      "  engine's own bound %.0f ms: up to %.0f ms until a pass takes the change (passes every\n"
      "  %.0f ms, changes taken in the seconds divisible by %.0f), then up to %d frames of the\n"
      "  send cycle at %.1f ms on the line + %.0f ms pause each (%.0f ms)\n",
      total_ms.size(), kStations, missed, state.range(1) != 0 ? "true" : "false",
      Percentile(broker_ms, 0.5), Percentile(broker_ms, 0.99), Percentile(engine_ms, 0.5),
      Percentile(engine_ms, 0.99), Percentile(total_ms, 0.5), Percentile(total_ms, 0.99),
      collect_ms + cycle_ms, collect_ms, kPassMs, kCollectEverySeconds, kStations, frame_ms,
      kPauseMs, cycle_ms);
}
BENCHMARK(MqttPublishToFrame)
    ->ArgNames({"changes", "broker_nodelay"})
    ->ArgsProduct({{208}, {0, 1}})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
