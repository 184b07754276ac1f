// A serial line in memory, for tests. The devices it makes record what is done to them, with the
// clock's tick, and answer as the test has set the line. What takes time on a real device (a
// write that times out, a transmitter that takes long to empty) spends that time on the clock,
// so that the waits show in simulated time.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/clock/clock.h"
#include "platform/serial/serial_device.h"

namespace veldrane::platform {

class FakeSerialLine {
 public:
  enum class Call : uint8_t {
    kOpen,
    kPurge,
    kRtsUp,
    kRtsDown,
    kCts,
    kWrite,
    kWaitTransmitted,
    kClose
  };
  struct Record {
    Call call;
    uint32_t tick;
    std::string bytes;  // kWrite: the bytes given; kOpen: the port name
  };
  enum class Outcome : uint8_t { kOk, kTimeout, kFail };

  explicit FakeSerialLine(Clock& clock) : clock_(clock) {}
  FakeSerialLine(const FakeSerialLine&) = delete;
  FakeSerialLine& operator=(const FakeSerialLine&) = delete;

  // A device on this line; the line must outlive it.
  std::unique_ptr<SerialDevice> NewDevice();

  // How the line answers (default: opens, CTS up, every write and wait succeeds at once).
  void SetOpenFails(bool fails);
  // An adapter unplugged (false) and plugged in again (true): while it is away every operation
  // of an open device fails, and the first one after its return opens it again.
  void SetPresent(bool present);
  // CTS as read; kUp with up_after_ms > 0 reads down until that long after RTS was raised.
  void SetCts(ModemLine line, uint32_t up_after_ms = 0);
  // A timeout spends the whole timeout on the clock; a failure comes at once.
  void SetWriteOutcome(Outcome outcome);
  void SetTransmitOutcome(Outcome outcome);
  // The time a taken frame needs to leave the transmitter.
  void SetTransmitTimeMs(uint32_t ms);

  std::vector<Record> Records() const;
  // The bytes of every write that was taken, and the tick of each.
  std::vector<std::string> Frames() const;
  std::vector<uint32_t> FrameTicks() const;
  int CountOf(Call call) const;
  void ClearRecords();
  // The last open: port name and settings; and how many devices are open now.
  std::string PortName() const;
  SerialSettings Settings() const;
  int OpenDevices() const;

 private:
  friend class FakeSerialDevice;
  void Add(Call call, std::string bytes = std::string());
  bool OnOpen(const char* name, const SerialSettings& settings);
  bool Present() const;
  void OnClose();
  void OnRts(bool up);
  ModemLine OnCts();
  SerialResult OnWrite(const uint8_t* bytes, size_t length, uint32_t timeout_ms);
  SerialResult OnWaitTransmitted(uint32_t timeout_ms);

  Clock& clock_;
  mutable std::mutex mutex_;
  bool open_fails_ = false;
  bool present_ = true;
  ModemLine cts_ = ModemLine::kUp;
  uint32_t cts_delay_ms_ = 0;
  uint32_t rts_up_tick_ = 0;
  Outcome write_outcome_ = Outcome::kOk;
  Outcome transmit_outcome_ = Outcome::kOk;
  uint32_t transmit_ms_ = 0;
  std::vector<Record> records_;
  std::vector<std::string> frames_;
  std::vector<uint32_t> frame_ticks_;
  std::string port_name_;
  SerialSettings settings_;
  int open_devices_ = 0;
};

}  // namespace veldrane::platform
