// The serial line of the engine: opening the document's port and writing one frame, with or
// without the RTS/CTS handshake, on the environment's serial device.
#include "comm/comm_engine.h"
#include "config/doc.h"
#include "hostlink/report.h"

using veldrane::platform::SerialResult;

namespace veldrane::comm {

void Engine::KeepSerialResult(const SerialResult& result) {
  last_serial_.store(uint64_t{static_cast<uint32_t>(result.fault)} << 32 |
                     static_cast<uint32_t>(result.error));
}

SerialResult Engine::LastSerialResult() const {
  const uint64_t kept = last_serial_.load();
  return {static_cast<veldrane::platform::SerialFault>(kept >> 32),
          static_cast<int>(static_cast<uint32_t>(kept))};
}

int32_t Engine::OpenPort() {
  port_.reset();
  const CSerialPort& port = doc_.Port();
  const CString name = port.DeviceName();
  veldrane::platform::SerialSettings settings = port.LineSettings();
  settings.rts_cts = rts_cts_;
  std::unique_ptr<veldrane::platform::SerialDevice> device = environment_.NewSerialDevice();
  // Settings without a line value are refused, not run at whatever speed the device had.
  const SerialResult result =
      port.LineProblems().empty()
          ? device->Open(name, settings)
          : SerialResult{veldrane::platform::SerialFault::kSettingsRefused, 0};
  KeepSerialResult(result);
  if (!result.ok()) {
    return veldrane::ReportMessage(veldrane::kMessagePortFailed, veldrane::kLevelSetup, name, 0);
  }
  // A reconnection under way ends when the engine is stopped.
  device->WatchStop(&stop_request_);
  port_ = std::move(device);
  veldrane::ReportMessage(veldrane::kMessagePortReady, veldrane::kLevelState, nullptr, 0);
  return 0;
}

int32_t Engine::ReportedResult(const veldrane::comm::SendResult& result) {
  using Outcome = veldrane::comm::SendResult::Outcome;
  if (result.outcome == Outcome::kSent) return 0;
  return result.outcome == Outcome::kCutShort ? kSendCutShort : kSendFailed;
}

veldrane::comm::SendResult Engine::SendFrame(const uint8_t* frame, int32_t length) {
  using veldrane::comm::SendResult;
  using veldrane::platform::ModemLine;
  if (length < 0) return {SendResult::Outcome::kNotBuilt, {}};
  if (!port_) return {SendResult::Outcome::kNoPort, {}};
  port_->Purge();
  if (rts_cts_) {
    // The meter may answer at once: the first look at CTS comes without a pause.
    port_->SetRts(true);
    const uint32_t start = clock_.TickMs();
    while (port_->Cts() != ModemLine::kUp) {
      if (clock_.TickMs() - start >= kCtsWaitMs) {
        port_->SetRts(false);
        return {SendResult::Outcome::kNoCts, {}};
      }
      if (!clock_.SleepUnlessStopped(kCtsPollMs, stop_request_)) {
        port_->SetRts(false);
        return {SendResult::Outcome::kCutShort, {}};
      }
    }
  }
  SerialResult written = port_->Write(frame, static_cast<size_t>(length), kWriteTimeoutMs);
  if (written.ok()) written = port_->WaitTransmitted(kTransmitTimeoutMs);
  KeepSerialResult(written);
  if (rts_cts_) port_->SetRts(false);
  if (!written.ok()) return {SendResult::Outcome::kLineFailed, written};
  return {};
}

}  // namespace veldrane::comm
