// One session of the virtual meter: reads its line until Ctrl-C, the time given or the line's
// failure, decodes the frames, and shows them as the live panel, plain lines or raw lines; at
// the end the panel's last state or the summary.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/report_limit.h"
#include "tools/meter/decoder.h"
#include "tools/meter/live_panel.h"
#include "tools/meter/meter_board.h"
#include "tools/meter/meter_line.h"

namespace veldrane::meter {

struct SessionSettings {
  bool live = false;      // the live panel; else one line per frame
  bool raw = false;       // each frame in hex with its decoding, and the bytes of no frame
  double seconds = -1;    // the session ends after this long; not above 0: at Ctrl-C only
  std::string line_text;  // "listening on NAME (9600 8N1)": the first line, the panel's head
};

class MeterSession {
 public:
  using Clock = std::chrono::steady_clock;

  // Bytes of a frame begun are dropped as bad when the line stays quiet this long.
  static constexpr auto kIdleFlush = std::chrono::seconds(1);
  static constexpr auto kRedrawEvery = std::chrono::milliseconds(200);
  static constexpr int kPollMs = 50;

  MeterSession(SessionSettings settings, std::unique_ptr<MeterLine> line, FrameDecoder decoder,
               MeterBoard board);

  // Until `stop` is set, the time runs out or the line fails (said on standard error): false
  // then.
  bool Run(const std::atomic<bool>& stop);

 private:
  void Start();
  // One read of the line; false when it failed.
  bool Turn();
  void TakeNotices();
  void Report(WallTime when);
  void ReportNoise(const Decoded& item, WallTime when);
  void ReportNoiseNotShown(WallTime when, bool flush);
  void Draw(Clock::time_point now, bool stopped);
  void Finish();

  SessionSettings settings_;
  std::unique_ptr<MeterLine> line_;
  FrameDecoder decoder_;
  MeterBoard board_;
  std::unique_ptr<LivePanel> panel_;

  Clock::time_point deadline_, last_byte_, last_draw_;
  std::vector<Decoded> found_;
  std::string panel_line_notice_;  // the last notice of the line, on the live panel
  // Noise in plain lines: the first few runs in full, then a count per interval.
  platform::ReportLimit noise_limit_;
  uint64_t noise_bytes_not_shown_ = 0;
};

}  // namespace veldrane::meter
