// comm::Engine: the run-time communication object of one document. It owns the serial port and
// one transmit thread; it resolves the stations' tags in the host's tag database, subscribes to
// their changes, and from its thread takes the changed values and writes each pending station's
// frame to the line, marking every resolved station again once a minute.
//
// Threads: construction, OpenPort, ResolveTags, SetActive, Stop and destruction run on the
// host's thread; TransmitThreadProc and the steps of its loop on the transmit thread, which the
// engine joins (it never outlives the engine). They share the running flag and the stations'
// enabled flags and counters, all atomics; no lock is taken.
//
// Stopping: Stop clears the running flag and raises the stop request, which ends the pause after
// a frame and a frame's wait for CTS at once; the send cycle then ends before its next station.
// A frame whose wait the stop cut short counts as not sent and its station stays pending. So
// Stop returns within one frame's bounds, whatever the number of stations.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

#include "comm/comm_env.h"
#include "fw/object.h"
#include "hostlink/report.h"
#include "platform/auto_reset_event.h"
#include "platform/clock/clock.h"
#include "platform/serial/serial_device.h"
#include "platform/stop_signal.h"

class CVeldraneDoc;

namespace veldrane::comm {

// How one frame went: sent, or why not, with what the serial device answered where it failed.
// It becomes a message number only where it is reported (ReportedResult).
struct SendResult {
  enum class Outcome : uint8_t {
    kSent,
    kNotBuilt,    // the value cannot be shown by the station's kind
    kNoPort,      // no port is open
    kNoCts,       // with the handshake, CTS did not come in time
    kLineFailed,  // the device refused the write or the wait for the transmitter; see `serial`
    kCutShort,    // a stop ended the wait for CTS: not sent, and no failure either
  };
  Outcome outcome = Outcome::kSent;
  veldrane::platform::SerialResult serial;
  bool sent() const { return outcome == Outcome::kSent; }
};

class Engine : public CObject {
 public:
  // The result of a frame that could not be built or sent: the number of its message.
  static constexpr int32_t kSendFailed = veldrane::kMessageSendFailed;
  // The result of a frame whose wait for CTS a stop ended: not sent, and no failure either.
  static constexpr int32_t kSendCutShort = -1;

  // Pacing of the transmit loop.
  static constexpr uint32_t kPassPeriodMs = 500;
  static constexpr uint32_t kLongPassMs = 400;        // a pass this long or longer ...
  static constexpr uint32_t kPauseAfterLongMs = 100;  // ... is followed by this pause
  static constexpr uint32_t kFramePauseMs = 50;
  static constexpr uint32_t kCollectEverySeconds = 3;  // changes in seconds divisible by it
  static constexpr uint32_t kRefreshSeconds = 60;

  // Waits of one frame on the line.
  static constexpr uint32_t kCtsWaitMs = 1000;
  static constexpr uint32_t kCtsPollMs = 10;
  static constexpr uint32_t kWriteTimeoutMs = 1000;
  static constexpr uint32_t kTransmitTimeoutMs = 2000;

  // Takes the handshake mode from the document's port settings and the clock and device source
  // from the communication environment in use.
  explicit Engine(CVeldraneDoc& doc);
  // Stops a running engine (its thread never outlives it), then closes the port.
  ~Engine() override;

  // The serial line (serial_line.cc). OpenPort: 0, or the reporter's result for message 4.
  int32_t OpenPort();
  // One frame with the configured handshake. Transmit thread only.
  veldrane::comm::SendResult SendFrame(const uint8_t* frame, int32_t length);
  // The same as the station's statistics record it: 0 sent, kSendFailed, or kSendCutShort.
  int32_t WriteFrame(const uint8_t* frame, int32_t length) {
    return ReportedResult(SendFrame(frame, length));
  }
  static int32_t ReportedResult(const veldrane::comm::SendResult& result);

  // Looks up every station's tag (message 12 for each one missing). Always 0.
  int32_t ResolveTags();
  // Nonzero starts, 0 stops.
  void SetActive(int32_t request);
  // Ends communication; returns when the transmit thread has ended. Always 0.
  int32_t Stop();

  bool PortOpen() const { return port_ != nullptr; }
  // What the serial device answered last, to an open or a frame's write (line settings without a
  // line value: kSettingsRefused); the cause a host shows when the port failed. Any thread.
  veldrane::platform::SerialResult LastSerialResult() const;
  bool Running() const { return running_.load() != 0; }
  bool RtsCts() const { return rts_cts_; }

 private:
  static uint32_t TransmitThreadProc(Engine* engine);
  void CollectChanges();
  void MarkAllPending();
  void SendCycle();
  void CloseClient();

  veldrane::platform::AutoResetEvent stop_event_;  // set by the thread when it leaves its loop
  veldrane::platform::StopSignal stop_request_;    // raised by Stop, cleared at each start
  std::atomic<int32_t> running_{0};
  std::unique_ptr<veldrane::platform::SerialDevice> port_;  // null while no port is open
  // LastSerialResult as one word (the cause, then errno), which every target stores atomically
  // without a library's help.
  void KeepSerialResult(const veldrane::platform::SerialResult& result);
  std::atomic<uint64_t> last_serial_{0};
  CVeldraneDoc& doc_;
  // The tag-database client of the running engine, -1 while none. Written on the host's thread
  // only while no transmit thread runs.
  int32_t client_ = -1;
  const bool rts_cts_;
  veldrane::comm::CommEnvironment& environment_;
  veldrane::platform::Clock& clock_;
  std::thread thread_;
};

}  // namespace veldrane::comm
