#include "tools/meter/meter_session.h"

#include <cstdio>

#include "tools/meter/meter_view.h"

namespace veldrane::meter {
namespace {

void PrintLine(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

WallTime WallNow() {
  return std::chrono::system_clock::now();
}

}  // namespace

MeterSession::MeterSession(SessionSettings settings, std::unique_ptr<MeterLine> line,
                           FrameDecoder decoder, MeterBoard board)
    : settings_(std::move(settings)),
      line_(std::move(line)),
      decoder_(std::move(decoder)),
      board_(std::move(board)) {}

bool MeterSession::Run(const std::atomic<bool>& stop) {
  Start();
  bool line_ok = true;
  while (!stop.load()) {
    if (!Turn()) {
      line_ok = false;
      break;
    }
    if (settings_.seconds > 0 && Clock::now() >= deadline_) break;
  }
  Finish();
  return line_ok;
}

void MeterSession::Start() {
  if (!settings_.live) PrintLine(settings_.line_text);
  if (settings_.live) panel_ = std::make_unique<LivePanel>();
  auto started = Clock::now();
  // Seconds beyond the clock's range (--seconds 1e308) mean no end but Ctrl-C.
  double seconds_left_in_clock =
      std::chrono::duration<double>(Clock::time_point::max() - started).count();
  deadline_ = settings_.seconds >= seconds_left_in_clock / 2
                  ? Clock::time_point::max()
                  : started + std::chrono::duration_cast<Clock::duration>(
                                  std::chrono::duration<double>(settings_.seconds));
  last_byte_ = started;
  last_draw_ = started - kRedrawEvery;
}

bool MeterSession::Turn() {
  uint8_t buffer[4096];
  std::string error;
  long count = line_->Read(buffer, sizeof buffer, kPollMs, &error);
  auto now = Clock::now();
  if (count < 0) {
    std::fprintf(stderr, "veldrane-meter: %s: %s\n", line_->name().c_str(), error.c_str());
    return false;
  }
  TakeNotices();
  if (count > 0) {
    decoder_.Feed(buffer, static_cast<size_t>(count), found_);
    last_byte_ = now;
  } else if (decoder_.pending() > 0 && now - last_byte_ >= kIdleFlush) {
    decoder_.Flush(found_);
  }
  Report(WallNow());
  if (settings_.live && now - last_draw_ >= kRedrawEvery) Draw(now, false);
  return true;
}

void MeterSession::TakeNotices() {
  for (std::string notice; line_->TakeNotice(notice);) {
    if (settings_.live) {
      panel_line_notice_ = notice;
    } else {
      PrintLine(notice);
    }
  }
}

void MeterSession::Report(WallTime when) {
  const bool plain = !settings_.live && !settings_.raw;
  for (const Decoded& item : found_) {
    if (item.is_frame) {
      const VirtualMeter& meter = board_.Record(item.frame, when);
      if (settings_.raw) {
        PrintLine(RawFrameLine(item.frame, when));
      } else if (plain) {
        PrintLine(PlainFrameLine(item.frame, meter, board_.has_configuration(), when));
      }
    } else if (settings_.raw) {
      PrintLine(RawRejectedLine(item.bytes, when));
    } else if (plain) {
      ReportNoise(item, when);
    }
  }
  found_.clear();
  if (plain) ReportNoiseNotShown(when, false);
}

void MeterSession::ReportNoise(const Decoded& item, WallTime when) {
  ReportNoiseNotShown(when, false);
  if (noise_limit_.Take(Clock::now())) {
    PrintLine(PlainRejectedLine(item.bytes, when));
  } else {
    noise_bytes_not_shown_ += item.bytes.size();
  }
}

void MeterSession::ReportNoiseNotShown(WallTime when, bool flush) {
  if (uint64_t runs = noise_limit_.TakeUncounted(Clock::now(), flush)) {
    PrintLine(PlainUncountedLine(runs, noise_bytes_not_shown_, when));
    noise_bytes_not_shown_ = 0;
  }
}

void MeterSession::Draw(Clock::time_point now, bool stopped) {
  PanelStatus status;
  status.stopped = stopped;
  status.line = settings_.line_text + (panel_line_notice_.empty() ? "" : "; " + panel_line_notice_);
  status.rejected = decoder_.rejected_bytes();
  status.pending = decoder_.pending();
  if (settings_.seconds > 0) {
    status.seconds_left = std::chrono::duration<double>(deadline_ - now).count();
  }
  panel_->Draw(PanelText(board_, status, WallNow()));
  last_draw_ = now;
}

// What the line still held, then the panel's last state or the summary.
void MeterSession::Finish() {
  decoder_.Flush(found_);
  Report(WallNow());
  if (!settings_.live && !settings_.raw) ReportNoiseNotShown(WallNow(), true);
  if (settings_.live) {
    Draw(Clock::now(), true);
    panel_.reset();
  } else {
    std::fputs(SummaryText(board_, decoder_.rejected_bytes()).c_str(), stdout);
    std::fflush(stdout);
  }
}

}  // namespace veldrane::meter
