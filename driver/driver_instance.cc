#include "driver/driver_instance.h"

#include "comm/comm_engine.h"

namespace veldrane {
namespace {

// Sums wrap as the counters themselves do.
int32_t Add(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

}  // namespace

DriverInstance::DriverInstance() = default;

DriverInstance::~DriverInstance() {
  engine_.reset();
}

int32_t DriverInstance::OpenPort() {
  engine_.reset();
  engine_ = std::make_unique<comm::Engine>(doc_);
  return engine_->OpenPort();
}

int32_t DriverInstance::ResolveTags() {
  return engine_ ? engine_->ResolveTags() : 0;
}

int32_t DriverInstance::Stop() {
  return engine_ ? engine_->Stop() : 0;
}

void DriverInstance::SetActive(const char* name, int32_t state) {
  if (!name) {
    if (engine_) engine_->SetActive(state);
    return;
  }
  if (CStationInfo* station = doc_.FindStation(name)) station->enabled.store(state);
}

int32_t DriverInstance::GetStats(const char* name, int32_t* sent, int32_t* failed, int32_t* third,
                                 int32_t* fourth) {
  if (!engine_) return -1;
  if (!engine_->PortOpen()) return 1;
  int32_t counters[4];
  int32_t* outputs[4] = {sent, failed, third, fourth};
  if (name) {
    CStationInfo* station = doc_.FindStation(name);
    if (!station) return -1;
    int32_t result = station->GetStats(counters[0], counters[1], counters[2], counters[3]);
    for (int i = 0; i < 4; ++i) {
      if (outputs[i]) *outputs[i] = counters[i];
    }
    return result;
  }
  int32_t active = 0;
  int32_t failing = 0;
  for (const auto& station : doc_.Stations()) {
    int32_t result = station->GetStats(counters[0], counters[1], counters[2], counters[3]);
    // The caller zeroed the outputs; disabled stations count in the sums too.
    for (int i = 0; i < 4; ++i) {
      if (outputs[i]) *outputs[i] = Add(*outputs[i], counters[i]);
    }
    if (result != -1) ++active;
    if (result == 1) ++failing;
  }
  if (!engine_->Running() || active == 0) return -1;
  return failing > 0 ? 1 : 0;
}

}  // namespace veldrane
