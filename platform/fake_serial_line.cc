#include "platform/fake_serial_line.h"

namespace veldrane::platform {

class FakeSerialDevice final : public SerialDevice {
 public:
  explicit FakeSerialDevice(FakeSerialLine& line) : line_(line) {}
  ~FakeSerialDevice() override {
    if (open_) line_.OnClose();
  }

  bool Open(const char* port_name, const SerialSettings& settings) override {
    if (open_) line_.OnClose();
    open_ = line_.OnOpen(port_name, settings);
    return open_;
  }
  bool Purge() override {
    line_.Add(FakeSerialLine::Call::kPurge);
    return true;
  }
  bool SetRts(bool up) override {
    line_.OnRts(up);
    return true;
  }
  ModemLine Cts() override { return line_.OnCts(); }
  bool Write(const uint8_t* bytes, size_t length, uint32_t timeout_ms) override {
    return line_.OnWrite(bytes, length, timeout_ms);
  }
  bool WaitTransmitted(uint32_t timeout_ms) override { return line_.OnWaitTransmitted(timeout_ms); }

 private:
  FakeSerialLine& line_;
  bool open_ = false;
};

std::unique_ptr<SerialDevice> FakeSerialLine::NewDevice() {
  return std::make_unique<FakeSerialDevice>(*this);
}

void FakeSerialLine::SetOpenFails(bool fails) {
  std::lock_guard<std::mutex> lock(mutex_);
  open_fails_ = fails;
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

bool FakeSerialLine::OnWrite(const uint8_t* bytes, size_t length, uint32_t timeout_ms) {
  std::string frame(reinterpret_cast<const char*>(bytes), length);
  Add(Call::kWrite, frame);
  Outcome outcome;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    outcome = write_outcome_;
  }
  if (outcome == Outcome::kTimeout) clock_.SleepMs(timeout_ms);
  if (outcome != Outcome::kOk) return false;
  uint32_t tick = clock_.TickMs();
  std::lock_guard<std::mutex> lock(mutex_);
  frames_.push_back(std::move(frame));
  frame_ticks_.push_back(tick);
  return true;
}

bool FakeSerialLine::OnWaitTransmitted(uint32_t timeout_ms) {
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
  return outcome == Outcome::kOk;
}

}  // namespace veldrane::platform
