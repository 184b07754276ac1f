// The runner's web server without a socket: its options, the token, the routes, the snapshots a
// synthetic line gives (what each meter shows, what changed), the metrics' text and the bounds of
// the event streams.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "host/runner/lines/run_lines.h"
#include "host/runner/web/event_stream.h"
#include "host/runner/web/http_server.h"
#include "host/runner/web/metrics_text.h"
#include "host/runner/web/status_json.h"
#include "host/runner/web/status_snapshot.h"
#include "host/runner/web/web_options.h"
#include "host/runner/web/web_service.h"

namespace {

using namespace veldrane::host;

TEST(WebOptions, ListenAddressesAndAddressBlocks) {
  struct Listen {
    const char* text;
    bool ok;
    const char* host;
    int port;
  } listens[] = {
      {"127.0.0.1:8640", true, "127.0.0.1", 8640},
      {"[::1]:80", true, "::1", 80},
      {"0.0.0.0:65535", true, "0.0.0.0", 65535},
      {"::1:80", false, "", 0},
      {"localhost:8640", false, "", 0},
      {":8640", false, "", 0},
      {"127.0.0.1", false, "", 0},
      {"127.0.0.1:0", false, "", 0},
      {"127.0.0.1:65536", false, "", 0},
      {"127.0.0.1:+80", false, "", 0},
      {"127.0.0.1:80x", false, "", 0},
  };
  for (const Listen& c : listens) {
    std::string host, error;
    int port = 0;
    EXPECT_EQ(ParseListenAddress(c.text, &host, &port, &error), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(host + ":" + std::to_string(port),
                std::string(c.host) + ":" + std::to_string(c.port));
    }
  }
  struct Block {
    const char* block;
    const char* address;  // IPv4 or IPv6
    bool holds;
  } blocks[] = {
      {"10.0.0.0/8", "10.200.1.2", true},
      {"10.0.0.0/8", "11.0.0.1", false},
      {"10.0.0.0/8", "::ffff:10.1.2.3", true},
      {"192.168.1.7", "192.168.1.7", true},
      {"192.168.1.7", "192.168.1.8", false},
      {"192.168.1.0/25", "192.168.1.127", true},
      {"192.168.1.0/25", "192.168.1.128", false},
      {"0.0.0.0/0", "8.8.8.8", true},
      {"fd00::/8", "fd12::1", true},
      {"fd00::/8", "fe80::1", false},
      {"fd00::/8", "10.0.0.1", false},
      {"::1", "::1", true},
  };
  for (const Block& c : blocks) {
    AddressBlock block;
    std::string error;
    ASSERT_TRUE(ParseAddressBlock(c.block, &block, &error)) << c.block << ": " << error;
    uint8_t bytes[16];
    bool v4 = inet_pton(AF_INET, c.address, bytes) == 1;
    if (!v4) {
      ASSERT_EQ(inet_pton(AF_INET6, c.address, bytes), 1);
    }
    EXPECT_EQ(BlockHolds(block, bytes, v4 ? 4 : 16), c.holds) << c.block << " " << c.address;
  }
  for (const char* bad : {"10.0.0.0/33", "fd00::/129", "10.0.0.0/", "10.0.0/8", "host/8", ""}) {
    AddressBlock block;
    std::string error;
    EXPECT_FALSE(ParseAddressBlock(bad, &block, &error)) << bad;
  }
  WebOptions options;
  std::string error;
  EXPECT_FALSE(SetWebOption("--http-allow", "10.0.0.0/8,,fd00::/8", &options, &error));
  WebOptions lone;
  lone.token_file = "/nonexistent";
  EXPECT_FALSE(FinishWebOptions(&lone, &error));
  EXPECT_NE(error.find("need --http"), std::string::npos) << error;
}

TEST(HttpServer, OnlyTheAllowedBlocksMayConnect) {
  WebOptions options;
  std::string error;
  ASSERT_TRUE(SetWebOption("--http-allow", "10.0.0.0/8,fd00::/8", &options, &error));
  options.host = "127.0.0.1";  // port 0: any free one, for the test
  HttpServer server([](const HttpRequest&) { return HttpResponse{}; }, HttpLimits{});
  ASSERT_TRUE(server.Start(options, &error)) << error;
  auto v4 = [](const char* text) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    inet_pton(AF_INET, text, &a.sin_addr);
    return a;
  };
  auto v6 = [](const char* text) {
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    inet_pton(AF_INET6, text, &a.sin6_addr);
    return a;
  };
  sockaddr_in in_block = v4("10.1.2.3"), outside = v4("127.0.0.1");
  sockaddr_in6 in_block6 = v6("fd00::7"), mapped = v6("::ffff:10.9.9.9"), outside6 = v6("::1");
  EXPECT_TRUE(server.Allowed(&in_block, sizeof in_block));
  EXPECT_FALSE(server.Allowed(&outside, sizeof outside));
  EXPECT_TRUE(server.Allowed(&in_block6, sizeof in_block6));
  EXPECT_TRUE(server.Allowed(&mapped, sizeof mapped));
  EXPECT_FALSE(server.Allowed(&outside6, sizeof outside6));
  EXPECT_FALSE(server.Allowed(&in_block, 4));  // a short address is no address
  server.Stop();
}

TEST(WebOptions, TheTokenIsTheFirstLineOfASmallRegularFile) {
  std::string dir = testing::TempDir() + "web_token_" + std::to_string(getpid());
  ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
  auto file = [&](const std::string& name, const std::string& text) {
    std::ofstream(dir + "/" + name, std::ios::binary) << text;
    return dir + "/" + name;
  };
  std::string fifo = dir + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  struct Case {
    std::string path;
    std::string token;  // empty: refused
    const char* error_part;
  } cases[] = {
      {file("ok", "abc.DEF-123\r\nsecond line\n"), "abc.DEF-123", ""},
      {file("bare", "tok"), "tok", ""},
      {file("empty", ""), "", "must hold the token"},
      {file("blank", " tok\n"), "", "must hold the token"},
      {file("big", std::string(5000, 'a')), "", "larger than 4 KB"},
      {fifo, "", "not a regular file"},  // a FIFO is refused, not waited on
      {dir, "", "not a regular file"},
      {dir + "/missing", "", "cannot read"},
  };
  for (const Case& c : cases) {
    WebOptions options;
    std::string error;
    ASSERT_TRUE(SetWebOption("--http", "127.0.0.1:8640", &options, &error));
    ASSERT_TRUE(SetWebOption("--http-token", c.path, &options, &error));
    chmod(c.path.c_str(), 0600);
    EXPECT_EQ(FinishWebOptions(&options, &error), !c.token.empty()) << c.path;
    EXPECT_EQ(options.token, c.token) << c.path;
    if (c.token.empty()) {
      EXPECT_NE(error.find(c.error_part), std::string::npos) << error;
    }
  }
  std::system(("rm -rf " + dir).c_str());
}

TEST(WebService, RoutesAndTheTokenOfValues) {
  WebOptions with_token;
  with_token.listen = "127.0.0.1:1";
  with_token.token = "right";
  WebService off(WebOptions{}), on(with_token);
  int set = 0;
  on.SetValueHandler([&](const std::string& tag, const std::string& body) {
    ++set;
    HttpResponse r;
    r.body = tag + "=" + body;
    return r;
  });
  struct Case {
    WebService* service;
    const char* method;
    const char* path;
    const char* authorization;
    int status;
  } cases[] = {
      {&off, "PUT", "/api/values/T1", "Bearer right", 403},  // no --http-token: never
      {&on, "PUT", "/api/values/T1", "", 401},
      {&on, "PUT", "/api/values/T1", "Bearer righ", 401},
      {&on, "PUT", "/api/values/T1", "Bearer right ", 401},
      {&on, "PUT", "/api/values/T1", "bearer right", 401},
      {&on, "PUT", "/api/values/T1", "Bearer right", 200},
      {&on, "GET", "/api/values/T1", "Bearer right", 405},
      {&on, "GET", "/healthz", "", 200},
      {&on, "GET", "/", "", 200},
      {&on, "GET", "/app.js", "", 200},
      {&on, "GET", "/api/status", "", 503},  // no snapshot yet
      {&on, "GET", "/api/events", "", 200},
      {&on, "GET", "/metrics", "", 200},
      {&on, "POST", "/metrics", "", 405},
      {&on, "GET", "/../etc/passwd", "", 404},
      {&on, "DELETE", "/nothing", "", 404},
  };
  for (const Case& c : cases) {
    HttpRequest request;
    request.method = c.method;
    request.path = c.path;
    request.authorization = c.authorization;
    request.body = "12.5";
    EXPECT_EQ(c.service->Handle(request).status, c.status) << c.method << " " << c.path;
  }
  EXPECT_EQ(set, 1);
}

// A line of three stations with its watch, read from `statuses`.
struct SyntheticLine {
  std::vector<RunLine> lines;
  std::vector<StationStatus> statuses;

  SyntheticLine() {
    RunLine line;
    line.config = "hall/라인1.cfg";  // a path is UTF-8, not code page 949
    line.port = "COM1";
    line.state = LineState::kRunning;
    line.stations = {{"K5", 5, 200, 0, "T5"}, {"K1\"x", 1, 2, 2, "T1"}, {"K4", 4, 100, 0, "T4"}};
    line.watch = std::make_unique<LineWatch>(line.stations);
    lines.push_back(std::move(line));
    statuses.resize(3);
  }
  GatewayView View() {
    lines[0].watch->Update([&](const StationRow& row) {
      for (size_t i = 0; i < 3; ++i) {
        if (lines[0].stations[i].name == row.name) return statuses[i];
      }
      return StationStatus{};
    });
    return GatewayView{&lines, {}, 1.0, true};
  }
  void Frame(size_t i, double value, bool failed = false) {
    statuses[i].sent++;
    statuses[i].failed += failed;
    statuses[i].result = failed ? 1 : 0;
    statuses[i].has_value = true;
    statuses[i].value = value;
  }
};

TEST(SnapshotBuilder, ShowsWhatTheMeterShowsAndTellsWhatChanged) {
  SyntheticLine line;
  SnapshotBuilder builder;
  auto now = std::chrono::steady_clock::now();
  auto first = builder.Build(line.View(), now);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->stations[0]->shows, "");       // no frame yet: a blank meter
  EXPECT_FALSE(builder.Build(line.View(), now));  // nothing changed

  line.Frame(0, 1234);
  line.Frame(1, 3.125);
  line.Frame(2, 70000);
  auto second = builder.Build(line.View(), now);
  ASSERT_TRUE(second);
  EXPECT_EQ(second->stations[0]->shows, "1234");
  EXPECT_EQ(second->stations[1]->shows, "3.13");  // the frame's rounding, as the meter shows it
  EXPECT_EQ(second->stations[2]->shows, "4464");  // kind 4 keeps the low 16 bits

  // A value kind 5 cannot show makes no frame: the meter keeps 1234. A value only set (no frame
  // yet) is not on the meter either.
  line.Frame(0, 20000, true);
  line.statuses[2].value = 5;
  auto third = builder.Build(line.View(), now);
  ASSERT_TRUE(third);
  EXPECT_EQ(third->stations[0]->shows, "1234");
  EXPECT_EQ(third->stations[0]->health, StationHealth::kFailing);
  EXPECT_EQ(third->stations[2]->shows, "4464");
  std::string delta = StatusDelta(*third);
  EXPECT_NE(delta.find("\"0\":{\"state\":\"failing\""), std::string::npos) << delta;
  EXPECT_EQ(delta.find("\"1\":"), std::string::npos) << delta;  // unchanged: not sent again
  std::string all = StatusDocument(*third);
  EXPECT_NE(all.find("\"station\":\"K1\\\"x\""), std::string::npos) << all;
  EXPECT_NE(all.find("\"line\":\"라인1\""), std::string::npos) << all;

  std::string metrics = MetricsText(*third, {}, {});
  for (const char* expected : {
           "veldrane_station_frames_sent_total{line=\"라인1\",station=\"K1\\\"x\",number=\"2\"} "
           "1\n",
           "veldrane_station_state{line=\"라인1\",station=\"K5\",number=\"200\",state=\"failing\"} "
           "1\n",
           "veldrane_station_frames_failed_total{line=\"라인1\",station=\"K5\",number=\"200\"} 1\n",
           "veldrane_line_port_open{line=\"라인1\",port=\"COM1\"} 1\n",
           "# TYPE veldrane_line_frames_sent_total counter\n",
       }) {
    EXPECT_NE(metrics.find(expected), std::string::npos) << expected;
  }
  EXPECT_EQ(LabelValue("a\\b\"c\nd"), "a\\\\b\\\"c\\nd");
}

TEST(EventStreams, BoundedInClientsAndInWhatEachHoldsUnread) {
  EventStreams streams(2, 100);
  int suspends = 0, resumes = 0;
  auto open = [&] {
    return streams.Open(
        [&] { ++suspends; }, [&] { ++resumes; },
        [] { return std::vector<SharedText>{std::make_shared<std::string>("hi")}; });
  };
  auto a = open(), b = open();
  ASSERT_TRUE(a && b);
  EXPECT_FALSE(open());  // the third is refused
  char buffer[256];
  EXPECT_EQ(a->Read(buffer, sizeof buffer), 2);
  EXPECT_EQ(a->Read(buffer, sizeof buffer), 0);  // nothing: it waits suspended
  EXPECT_EQ(suspends, 1);
  streams.Broadcast(std::make_shared<std::string>("event"));
  EXPECT_EQ(resumes, 1);  // woken by news
  EXPECT_EQ(a->Read(buffer, 3), 3);
  EXPECT_EQ(a->Read(buffer, sizeof buffer), 2);
  // b never reads: past 100 bytes unread it ends, and its place is free again.
  for (int i = 0; i < 20; ++i) streams.Broadcast(std::make_shared<std::string>("0123456789"));
  EXPECT_EQ(b->Read(buffer, sizeof buffer), -1);
  b->Gone();
  b.reset();
  EXPECT_TRUE(open());
}

}  // namespace
