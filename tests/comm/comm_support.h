// What the communication tests share: simulated time with a fake line as the engine's
// environment, a tag database whose deliveries the test writes, the driver's event-log lines,
// and documents built in memory.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "comm/comm_env.h"
#include "config/doc.h"
#include "platform/testing/fake_serial_line.h"
#include "platform/testing/simulated_clock.h"
#include "tarko/host_tables.h"

namespace veldrane::test {

// Installed for its lifetime: engines created meanwhile run on `clock` and `line`.
class SimulatedEnvironment final : public comm::CommEnvironment {
 public:
  explicit SimulatedEnvironment(platform::SimulatedClock::Mode mode,
                                uint32_t start_seconds = 1800000000u, uint32_t start_tick = 0);
  ~SimulatedEnvironment() override;

  platform::Clock& GetClock() override { return clock; }
  std::unique_ptr<platform::SerialDevice> NewSerialDevice() override { return line.NewDevice(); }

  platform::SimulatedClock clock;
  platform::FakeSerialLine line{clock};

 private:
  comm::CommEnvironment* previous_;
};

// A tag database installed as the driver's table for its lifetime. Tags resolve by name; the
// test queues the change arrays that DbGetChanges hands out, one per call.
class FakeTagDb {
 public:
  struct Change {
    void* user_data;
    uint16_t type;
    double value;
  };
  struct Advice {
    int32_t client;
    int32_t tag;
    void* user_data;
  };

  explicit FakeTagDb(platform::Clock* clock = nullptr);
  ~FakeTagDb();

  int32_t Define(const std::string& name);
  // The next DbGetChanges of an open client hands these out as one array.
  void Queue(std::vector<Change> changes);
  // Every DbGetChanges of an open client hands out these (a database that never stops
  // changing), once nothing is queued.
  void SetEndless(std::vector<Change> changes);
  // What DbOpenClient answers from now on when negative; 0 gives handles again.
  void SetOpenClientFailure(int32_t result);

  int32_t ClientsOpened() const;
  int32_t OpenClients() const;
  std::vector<Advice> Advices() const;
  // The tick of every DbGetChanges call (0 without a clock).
  std::vector<uint32_t> GetChangesTicks() const;

 private:
  static int32_t OpenClient();
  static void CloseClient(int32_t client);
  static int32_t FindTag(int32_t client, const char* name);
  static void Advise(int32_t client, int32_t tag, int32_t mode, void* user_data);
  static CTagChangeArray* GetChanges(int32_t client);

  platform::Clock* clock_;
  mutable std::mutex mutex_;
  std::map<std::string, int32_t> tags_;
  std::vector<bool> clients_;  // open or not, by handle
  int32_t open_failure_ = 0;
  std::vector<Advice> advices_;
  std::vector<std::vector<Change>> queue_;
  std::vector<Change> endless_;
  std::vector<uint32_t> get_changes_ticks_;
  TarkoFn table_[kHostTableSize] = {};
};

// The driver's event-log lines, captured for the lifetime of the object.
class EventLogCapture {
 public:
  struct Line {
    int32_t level_word;
    std::string text;
    int message;           // the message number the line was made from, or -1
    std::string argument;  // what stands for its %s
  };

  EventLogCapture();
  ~EventLogCapture();

  std::vector<Line> Lines() const;
  // The message numbers in order.
  std::vector<int> Messages() const;
  void Clear();

 private:
  static void Write(int32_t category, int32_t level_word, const char* line);
};

// A station for a document in memory.
struct StationSetup {
  std::string name;
  int32_t kind = 1;
  int32_t number = 1;
  uint32_t decimals = 0;
  std::string tag;
};
CStationInfo& AddStation(CVeldraneDoc& doc, const StationSetup& setup);

// Bytes as text for comparisons: "28 30 31 29 0D".
std::string Hex(const std::string& bytes);

}  // namespace veldrane::test
