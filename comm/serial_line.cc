// The serial line of the engine: opening the document's port and writing one frame, with or
// without the RTS/CTS handshake, on the environment's serial device.
#include "comm/comm_engine.h"
#include "config/doc.h"
#include "hostlink/report.h"

int32_t CCommEngine::OpenPort() {
  port_.reset();
  const CSerialPort& port = doc_.Port();
  const CString name = port.DeviceName();
  veldrane::platform::SerialSettings settings = port.LineSettings();
  settings.rts_cts = rts_cts_;
  std::unique_ptr<veldrane::platform::SerialDevice> device = environment_.NewSerialDevice();
  // Settings without a line value are refused, not run at whatever speed the device had.
  if (!port.LineProblems().empty() || !device->Open(name, settings).ok()) {
    return veldrane::ReportMessage(veldrane::kMessagePortFailed, veldrane::kLevelSetup, name, 0);
  }
  // A reconnection under way ends when the engine is stopped.
  device->WatchStop(&stop_request_);
  port_ = std::move(device);
  veldrane::ReportMessage(veldrane::kMessagePortReady, veldrane::kLevelState, nullptr, 0);
  return 0;
}

int32_t CCommEngine::WriteFrame(const uint8_t* frame, int32_t length) {
  using veldrane::platform::ModemLine;
  if (!port_ || length < 0) return kSendFailed;
  port_->Purge();
  if (rts_cts_) {
    // The meter may answer at once: the first look at CTS comes without a pause.
    port_->SetRts(true);
    const uint32_t start = clock_.TickMs();
    while (port_->Cts() != ModemLine::kUp) {
      if (clock_.TickMs() - start >= kCtsWaitMs) {
        port_->SetRts(false);
        return kSendFailed;
      }
      if (!clock_.SleepUnlessStopped(kCtsPollMs, stop_request_)) {
        port_->SetRts(false);
        return kSendCutShort;
      }
    }
  }
  if (!port_->Write(frame, static_cast<size_t>(length), kWriteTimeoutMs).ok()) {
    if (rts_cts_) port_->SetRts(false);
    return kSendFailed;
  }
  int32_t result = port_->WaitTransmitted(kTransmitTimeoutMs).ok() ? 0 : kSendFailed;
  if (rts_cts_) port_->SetRts(false);
  return result;
}
