#include "platform/testing/fake_serial_line.h"

#include <cerrno>

namespace veldrane::platform {
namespace {

SerialResult Failure(FakeSerialLine::Outcome outcome) {
  return outcome == FakeSerialLine::Outcome::kTimeout ? SerialResult{SerialFault::kTimedOut, 0}
                                                      : SerialResult{SerialFault::kIoError, EIO};
}

}  // namespace

class FakeSerialDevice final : public SerialDevice {
 public:
  explicit FakeSerialDevice(FakeSerialLine& line) : line_(line) {}
  ~FakeSerialDevice() override {
    if (open_) line_.OnClose();
  }

  SerialResult Open(const char* port_name, const SerialSettings& settings) override {
    if (open_) line_.OnClose();
    name_ = port_name ? port_name : "";
    settings_ = settings;
    lost_ = false;
    returned_ = false;
    open_ = line_.OnOpen(port_name, settings);
    return open_ ? SerialResult::Ok() : SerialResult{SerialFault::kNotFound, ENOENT};
  }
  SerialResult Purge() override {
    if (SerialResult r = Usable(); !r.ok()) return r;
    line_.Add(FakeSerialLine::Call::kPurge);
    return SerialResult::Ok();
  }
  SerialResult SetRts(bool up) override {
    if (SerialResult r = Usable(); !r.ok()) return r;
    line_.OnRts(up);
    return SerialResult::Ok();
  }
  ModemLine Cts() override { return Usable().ok() ? line_.OnCts() : ModemLine::kDown; }
  SerialResult Write(const uint8_t* bytes, size_t length, uint32_t timeout_ms) override {
    if (SerialResult r = Usable(); !r.ok()) return r;
    return line_.OnWrite(bytes, length, timeout_ms);
  }
  SerialResult WaitTransmitted(uint32_t timeout_ms) override {
    if (SerialResult r = Usable(); !r.ok()) return r;
    return line_.OnWaitTransmitted(timeout_ms);
  }
  bool TakeReturned() override {
    bool returned = returned_;
    returned_ = false;
    return returned;
  }

 private:
  // As the system's device: an adapter that went away fails every call, and the first call
  // after it came back opens it again.
  SerialResult Usable() {
    if (lost_) {
      if (!line_.Present()) return {SerialFault::kIoError, EIO};
      if (!line_.OnOpen(name_.c_str(), settings_)) return {SerialFault::kNotFound, ENOENT};
      lost_ = false;
      open_ = true;
      returned_ = true;
    }
    if (!open_) return {SerialFault::kNotFound, ENOENT};
    if (!line_.Present()) {
      line_.OnClose();
      open_ = false;
      lost_ = true;
      return {SerialFault::kIoError, EIO};
    }
    return SerialResult::Ok();
  }

  FakeSerialLine& line_;
  std::string name_;
  SerialSettings settings_;
  bool open_ = false;
  bool lost_ = false;
  bool returned_ = false;
};

std::unique_ptr<SerialDevice> FakeSerialLine::NewDevice() {
  return std::make_unique<FakeSerialDevice>(*this);
}

void FakeSerialLine::SetOpenFails(bool fails) {
  std::lock_guard<std::mutex> lock(mutex_);
  open_fails_ = fails;
}

void FakeSerialLine::SetPresent(bool present) {
  std::lock_guard<std::mutex> lock(mutex_);
  present_ = present;
}

bool FakeSerialLine::Present() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return present_;
}

void FakeSerialLine::SetCts(ModemLine line, uint32_t up_after_ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  cts_ = line;
  cts_delay_ms_ = up_after_ms;
}

void FakeSerialLine::SetWriteOutcome(Outcome outcome) {
  std::lock_guard<std::mutex> lock(mutex_);
  write_outcome_ = outcome;
}

void FakeSerialLine::SetTransmitOutcome(Outcome outcome) {
  std::lock_guard<std::mutex> lock(mutex_);
  transmit_outcome_ = outcome;
}

void FakeSerialLine::SetTransmitTimeMs(uint32_t ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  transmit_ms_ = ms;
}

std::vector<FakeSerialLine::Record> FakeSerialLine::Records() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return records_;
}

std::vector<std::string> FakeSerialLine::Frames() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return frames_;
}

std::vector<uint32_t> FakeSerialLine::FrameTicks() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return frame_ticks_;
}

int FakeSerialLine::CountOf(Call call) const {
  std::lock_guard<std::mutex> lock(mutex_);
  int n = 0;
  for (const Record& r : records_) n += r.call == call ? 1 : 0;
  return n;
}

void FakeSerialLine::ClearRecords() {
  std::lock_guard<std::mutex> lock(mutex_);
  records_.clear();
  frames_.clear();
  frame_ticks_.clear();
}

std::string FakeSerialLine::PortName() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return port_name_;
}

SerialSettings FakeSerialLine::Settings() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return settings_;
}

int FakeSerialLine::OpenDevices() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return open_devices_;
}

void FakeSerialLine::Add(Call call, std::string bytes) {
  uint32_t tick = clock_.TickMs();
  std::lock_guard<std::mutex> lock(mutex_);
  records_.push_back({call, tick, std::move(bytes)});
}

bool FakeSerialLine::OnOpen(const char* name, const SerialSettings& settings) {
  Add(Call::kOpen, name ? name : "");
  std::lock_guard<std::mutex> lock(mutex_);
  port_name_ = name ? name : "";
  settings_ = settings;
  if (open_fails_) return false;
  ++open_devices_;
  return true;
}

void FakeSerialLine::OnClose() {
  Add(Call::kClose);
  std::lock_guard<std::mutex> lock(mutex_);
  --open_devices_;
}

void FakeSerialLine::OnRts(bool up) {
  Add(up ? Call::kRtsUp : Call::kRtsDown);
  uint32_t tick = clock_.TickMs();
  std::lock_guard<std::mutex> lock(mutex_);
  if (up) rts_up_tick_ = tick;
}

ModemLine FakeSerialLine::OnCts() {
  Add(Call::kCts);
  uint32_t tick = clock_.TickMs();
  std::lock_guard<std::mutex> lock(mutex_);
  if (cts_ == ModemLine::kUp && tick - rts_up_tick_ < cts_delay_ms_) return ModemLine::kDown;
  return cts_;
}

SerialResult FakeSerialLine::OnWrite(const uint8_t* bytes, size_t length, uint32_t timeout_ms) {
  std::string frame(reinterpret_cast<const char*>(bytes), length);
  Add(Call::kWrite, frame);
  Outcome outcome;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    outcome = write_outcome_;
  }
  if (outcome == Outcome::kTimeout) clock_.SleepMs(timeout_ms);
  if (outcome != Outcome::kOk) return Failure(outcome);
  uint32_t tick = clock_.TickMs();
  std::lock_guard<std::mutex> lock(mutex_);
  frames_.push_back(std::move(frame));
  frame_ticks_.push_back(tick);
  return SerialResult::Ok();
}

SerialResult FakeSerialLine::OnWaitTransmitted(uint32_t timeout_ms) {
  Add(Call::kWaitTransmitted);
  Outcome outcome;
  uint32_t transmit_ms;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    outcome = transmit_outcome_;
    transmit_ms = transmit_ms_;
  }
  if (outcome == Outcome::kTimeout) clock_.SleepMs(timeout_ms);
  if (outcome == Outcome::kOk && transmit_ms > 0) clock_.SleepMs(transmit_ms);
  return outcome == Outcome::kOk ? SerialResult::Ok() : Failure(outcome);
}

}  // namespace veldrane::platform
