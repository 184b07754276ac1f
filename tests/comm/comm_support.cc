#include "tests/comm/comm_support.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "hostlink/host_modules.h"
#include "hostlink/report.h"
#include "hostlink/texts.h"
#include "tarko/tagval.h"

namespace veldrane::test {
namespace {

std::atomic<FakeTagDb*> g_tag_db{nullptr};

struct CapturedLog {
  std::mutex mutex;
  std::vector<EventLogCapture::Line> lines;
};

CapturedLog& Log() {
  static CapturedLog log;
  return log;
}

// Which message a line was made from: the text before and after its %s must frame the rest.
void Identify(EventLogCapture::Line& line) {
  line.message = -1;
  const std::string prefix = kReportPrefix;
  if (line.text.rfind(prefix, 0) != 0) return;
  const std::string body = line.text.substr(prefix.size());
  for (size_t i = 1; i < texts::kMessageCount; ++i) {
    const std::string format = texts::kMessages[i];
    size_t at = format.find("%s");
    if (at == std::string::npos) {
      if (body == format) {
        line.message = static_cast<int>(i);
        return;
      }
      continue;
    }
    const std::string head = format.substr(0, at);
    const std::string tail = format.substr(at + 2);
    if (tail.find("%s") != std::string::npos) continue;  // never reported
    if (body.size() >= head.size() + tail.size() && body.rfind(head, 0) == 0 &&
        body.compare(body.size() - tail.size(), tail.size(), tail) == 0) {
      line.message = static_cast<int>(i);
      line.argument = body.substr(head.size(), body.size() - head.size() - tail.size());
      return;
    }
  }
}

}  // namespace

SimulatedEnvironment::SimulatedEnvironment(platform::SimulatedClock::Mode mode,
                                           uint32_t start_seconds, uint32_t start_tick)
    : clock(mode, start_seconds, start_tick), previous_(comm::SetEnvironment(this)) {}

SimulatedEnvironment::~SimulatedEnvironment() {
  comm::SetEnvironment(previous_);
}

FakeTagDb::FakeTagDb(platform::Clock* clock) : clock_(clock) {
  SetSlot<kDbOpenClient>(table_, &OpenClient);
  SetSlot<kDbCloseClient>(table_, &CloseClient);
  SetSlot<kDbFindTag>(table_, &FindTag);
  SetSlot<kDbAdvise>(table_, &Advise);
  SetSlot<kDbGetChanges>(table_, &GetChanges);
  g_tag_db.store(this);
  SetDbmTable(table_);
}

FakeTagDb::~FakeTagDb() {
  SetDbmTable(nullptr);
  g_tag_db.store(nullptr);
}

int32_t FakeTagDb::Define(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto [it, added] = tags_.emplace(name, static_cast<int32_t>(tags_.size()));
  return it->second;
}

void FakeTagDb::Queue(std::vector<Change> changes) {
  std::lock_guard<std::mutex> lock(mutex_);
  queue_.push_back(std::move(changes));
}

void FakeTagDb::SetEndless(std::vector<Change> changes) {
  std::lock_guard<std::mutex> lock(mutex_);
  endless_ = std::move(changes);
}

void FakeTagDb::SetOpenClientFailure(int32_t result) {
  std::lock_guard<std::mutex> lock(mutex_);
  open_failure_ = result;
}

int32_t FakeTagDb::ClientsOpened() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int32_t>(clients_.size());
}

int32_t FakeTagDb::OpenClients() const {
  std::lock_guard<std::mutex> lock(mutex_);
  int32_t n = 0;
  for (bool open : clients_) n += open ? 1 : 0;
  return n;
}

std::vector<FakeTagDb::Advice> FakeTagDb::Advices() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return advices_;
}

std::vector<uint32_t> FakeTagDb::GetChangesTicks() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return get_changes_ticks_;
}

int32_t FakeTagDb::OpenClient() {
  FakeTagDb& db = *g_tag_db.load();
  std::lock_guard<std::mutex> lock(db.mutex_);
  if (db.open_failure_ < 0) return db.open_failure_;
  db.clients_.push_back(true);
  return static_cast<int32_t>(db.clients_.size() - 1);
}

void FakeTagDb::CloseClient(int32_t client) {
  FakeTagDb& db = *g_tag_db.load();
  std::lock_guard<std::mutex> lock(db.mutex_);
  if (client >= 0 && static_cast<size_t>(client) < db.clients_.size()) {
    db.clients_[static_cast<size_t>(client)] = false;
  }
}

int32_t FakeTagDb::FindTag(int32_t, const char* name) {
  FakeTagDb& db = *g_tag_db.load();
  std::lock_guard<std::mutex> lock(db.mutex_);
  auto it = db.tags_.find(name ? name : "");
  return it == db.tags_.end() ? -1 : it->second;
}

void FakeTagDb::Advise(int32_t client, int32_t tag, int32_t, void* user_data) {
  FakeTagDb& db = *g_tag_db.load();
  std::lock_guard<std::mutex> lock(db.mutex_);
  db.advices_.push_back({client, tag, user_data});
}

CTagChangeArray* FakeTagDb::GetChanges(int32_t client) {
  FakeTagDb& db = *g_tag_db.load();
  uint32_t tick = db.clock_ ? db.clock_->TickMs() : 0;
  std::lock_guard<std::mutex> lock(db.mutex_);
  db.get_changes_ticks_.push_back(tick);
  bool open = client >= 0 && static_cast<size_t>(client) < db.clients_.size() &&
              db.clients_[static_cast<size_t>(client)];
  if (!open) return nullptr;
  std::vector<Change> changes;
  if (!db.queue_.empty()) {
    changes = std::move(db.queue_.front());
    db.queue_.erase(db.queue_.begin());
  } else if (!db.endless_.empty()) {
    changes = db.endless_;
  } else {
    return nullptr;
  }
  auto array = std::make_unique<CTagChangeArray>();
  for (const Change& c : changes) {
    auto record = std::make_unique<TagChangeRecord>(c.user_data, CTagVal(c.type, c.value));
    array->Add(record.release());  // the caller owns the records
  }
  return array.release();
}

EventLogCapture::EventLogCapture() {
  Clear();
  SetEventLog(&Write);
}

EventLogCapture::~EventLogCapture() {
  SetEventLog(nullptr);
}

std::vector<EventLogCapture::Line> EventLogCapture::Lines() const {
  std::lock_guard<std::mutex> lock(Log().mutex);
  return Log().lines;
}

std::vector<int> EventLogCapture::Messages() const {
  std::vector<int> numbers;
  for (const Line& line : Lines()) numbers.push_back(line.message);
  return numbers;
}

void EventLogCapture::Clear() {
  std::lock_guard<std::mutex> lock(Log().mutex);
  Log().lines.clear();
}

void EventLogCapture::Write(int32_t, int32_t level_word, const char* text) {
  Line line{level_word, text ? text : "", -1, ""};
  Identify(line);
  std::lock_guard<std::mutex> lock(Log().mutex);
  Log().lines.push_back(std::move(line));
}

CStationInfo& AddStation(CVeldraneDoc& doc, const StationSetup& setup) {
  auto station = std::make_unique<CStationInfo>();
  station->name = setup.name.c_str();
  station->kind = setup.kind;
  station->number = setup.number;
  station->decimals = setup.decimals;
  station->tag_name = setup.tag.c_str();
  doc.Stations().push_back(std::move(station));
  return *doc.Stations().back();
}

std::string Hex(const std::string& bytes) {
  std::string out;
  char digits[4];
  for (unsigned char c : bytes) {
    std::snprintf(digits, sizeof digits, out.empty() ? "%02X" : " %02X", c);
    out += digits;
  }
  return out;
}

}  // namespace veldrane::test
