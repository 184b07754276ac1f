#include "comm/comm_engine.h"

#include <memory>

#include "comm/frames.h"
#include "config/doc.h"
#include "hostlink/host_modules.h"
#include "hostlink/report.h"
#include "tarko/tagval.h"

namespace tagdb = veldrane::tagdb;
using veldrane::kLevelSetup;
using veldrane::kLevelState;
using veldrane::kMessageStarted;
using veldrane::kMessageStopped;
using veldrane::kMessageTagMissing;
using veldrane::ReportMessage;

namespace veldrane::comm {

Engine::Engine(CVeldraneDoc& doc)
    : doc_(doc),
      rts_cts_(doc.Port().RtsCts()),
      environment_(veldrane::comm::Environment()),
      clock_(environment_.GetClock()) {}

Engine::~Engine() {
  // The host stops every instance before destroying it; a host that did not (or a module
  // unloaded while running) must not leave a thread reading freed stations.
  Stop();
  if (thread_.joinable()) thread_.join();
}

int32_t Engine::ResolveTags() {
  if (!tagdb::Present()) return 0;
  // A client of its own, closed when done: the running engine opens its own at each start.
  int32_t client = tagdb::OpenClient();
  if (client < 0) return 0;
  for (auto& station : doc_.Stations()) {
    if (station->tag_name.IsEmpty()) continue;
    int32_t index = tagdb::FindTag(client, station->tag_name);
    station->tag_index.store(index);
    if (index == -1) ReportMessage(kMessageTagMissing, kLevelSetup, station->tag_name, 0);
  }
  tagdb::CloseClient(client);
  return 0;
}

void Engine::SetActive(int32_t request) {
  // Any nonzero request starts: a second start must find the running flag equal to it, or it
  // would start a second thread over the first.
  request = request != 0 ? 1 : 0;
  if (request == running_.load()) return;
  if (request == 0) {
    Stop();
    return;
  }
  if (!port_) return;
  if (tagdb::Present()) {
    client_ = tagdb::OpenClient();
    if (client_ >= 0) {
      for (auto& station : doc_.Stations()) {
        int32_t index = station->tag_index.load();
        if (index != -1) tagdb::Advise(client_, index, station.get());
      }
    }
  }
  ReportMessage(kMessageStarted, kLevelState, nullptr, 0);
  stop_request_.Clear();
  running_.store(1);
  // The previous thread has ended (Stop joined it); this one is joined by the next Stop.
  try {
    thread_ = std::thread(&Engine::TransmitThreadProc, this);
  } catch (...) {
    // No thread (the system refused one): communication ends as it began.
    running_.store(0);
    CloseClient();
    ReportMessage(kMessageStopped, kLevelState, nullptr, 0);
  }
}

int32_t Engine::Stop() {
  if (running_.load() != 1) return 0;
  running_.store(0);
  clock_.RaiseStop(stop_request_);
  clock_.WaitFor(stop_event_);
  thread_.join();
  CloseClient();
  ReportMessage(kMessageStopped, kLevelState, nullptr, 0);
  return 0;
}

void Engine::CloseClient() {
  if (tagdb::Present() && client_ >= 0) tagdb::CloseClient(client_);
  client_ = -1;
}

uint32_t Engine::TransmitThreadProc(Engine* engine) {
  Engine& e = *engine;
  e.stop_event_.Reset();
  uint32_t last_refresh = e.clock_.CalendarSeconds();
  while (e.running_.load() != 0) {
    uint32_t now = e.clock_.CalendarSeconds();
    if (now % kCollectEverySeconds == 0) e.CollectChanges();
    // A line that was away and is back: its meters may be blank, and an unchanged value would
    // reach them only at the next refresh.
    if (e.port_->TakeReturned()) e.MarkAllPending();
    if (now - last_refresh >= kRefreshSeconds) {
      e.MarkAllPending();
      last_refresh = now;
    }
    uint32_t start = e.clock_.TickMs();
    e.SendCycle();
    uint32_t elapsed = e.clock_.TickMs() - start;
    // A stop ends the pause at once: the reconnection of a lost port may have taken the
    // pass's time already.
    e.clock_.SleepUnlessStopped(
        elapsed >= kLongPassMs ? kPauseAfterLongMs : kPassPeriodMs - elapsed, e.stop_request_);
  }
  e.stop_event_.Set();
  return 0;
}

void Engine::CollectChanges() {
  if (!tagdb::Present()) return;
  // The engine owns the array and every record in it.
  std::unique_ptr<CTagChangeArray> changes(tagdb::GetChanges(client_));
  if (!changes) return;
  for (int32_t i = 0; i < changes->GetSize(); ++i) {
    std::unique_ptr<TagChangeRecord> record(changes->GetAt(i));
    if (!record || record->value.GetType() == 0) continue;
    auto* station = static_cast<CStationInfo*>(record->user_data);
    if (!station) continue;
    station->value.store(record->value.GetVal());
    station->pending.store(1);
  }
}

void Engine::MarkAllPending() {
  for (auto& station : doc_.Stations()) {
    if (station->tag_index.load() != -1) station->pending.store(1);
  }
}

void Engine::SendCycle() {
  for (auto& station : doc_.Stations()) {
    // A disabled station keeps its pending flag until it is enabled again.
    if (station->pending.load() == 0 || station->enabled.load() == 0) continue;
    // A stop ends the cycle before its next frame; the stations left stay pending.
    if (stop_request_.Raised()) return;
    uint8_t frame[veldrane::kFrameBufferSize];
    // A kind without a builder (outside 0 to 6) fails like a value that cannot be shown.
    int length = veldrane::BuildFrame(*station, frame);
    station->frames_sent.fetch_add(1);
    veldrane::comm::SendResult sent{veldrane::comm::SendResult::Outcome::kNotBuilt, {}};
    // With the handshake the builder's trailing zero byte goes out too.
    if (length >= 0) sent = SendFrame(frame, rts_cts_ ? length + 1 : length);
    if (sent.outcome == veldrane::comm::SendResult::Outcome::kCutShort) {
      station->frames_sent.fetch_sub(1);
      return;
    }
    if (!sent.sent()) station->frames_failed.fetch_add(1);
    station->RecordResult(ReportedResult(sent), 0);
    station->pending.store(0);
    if (!clock_.SleepUnlessStopped(kFramePauseMs, stop_request_)) return;
  }
}

}  // namespace veldrane::comm
