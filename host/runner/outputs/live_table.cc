#include "host/runner/outputs/live_table.h"

#include <cstdio>
#include <vector>

#include "host/runner/lines/run_lines.h"
#include "host/runner/outputs/event_text.h"
#include "host/runner/outputs/station_table.h"
#include "platform/console.h"

namespace veldrane::host {

void LiveTable::Update(const GatewayView& view, std::chrono::steady_clock::time_point now) {
  if (drawn_ && now < next_draw_) return;
  next_draw_ = drawn_ ? next_draw_ + kDrawEvery : now + kDrawEvery;
  drawn_ = true;
  Draw(view);
}

void LiveTable::OnEvent(const EventEntry& event) {
  std::string text = EventText(event);
  platform::MutexLock lock(mutex_);
  if (echo_) PrintLines(stdout, EventTextPriority(event), text);
  events_.push_back(std::move(text));
  if (events_.size() > kEventsShown) events_.pop_front();
}

void LiveTable::Stopping() {
  platform::MutexLock lock(mutex_);
  echo_ = true;
}

void LiveTable::Draw(const GatewayView& view) {
  const std::vector<RunLine>& lines = *view.lines;
  std::string screen = "\x1b[H\x1b[2J";
  char head[256];
  std::string what = lines.size() == 1 ? lines[0].Title() : std::to_string(lines.size()) + " lines";
  std::snprintf(head, sizeof head, "Veldrane host runner  %s  %.0f s  (Ctrl-C stops)\n\n",
                what.c_str(), view.elapsed);
  screen += head;
  // The value inputs that serve clients or keep a link (the Modbus server, the broker) say how
  // they are: a PLC programmer watches the clients and writes here.
  size_t input_rows = 0;
  for (const InputHealth& input : view.inputs) {
    if (input.detail.empty()) continue;
    screen += input.name + ": " + input.detail + "\n";
    ++input_rows;
  }
  if (input_rows > 0) screen += "\n";
  // A port that cannot carry the handshake stays in sight above the table.
  for (const RunLine& line : lines) {
    if (!line.port_problem.empty()) screen += line.port_problem + "\n\n";
  }
  std::vector<LiveLine> live;
  for (const RunLine& line : lines) {
    live.push_back({line.Title(), line.watch.get(), line.watch ? "" : NotRunningNote(line)});
  }
  // Beside the table: the title, two blank lines, and the event log with its heading.
  const size_t kOther = 4 + kEventsShown + (input_rows > 0 ? input_rows + 1 : 0);
  size_t rows = platform::TerminalRows();
  screen += FormatLiveLines(live, rows > kOther + 3 ? rows - kOther : 3);
  screen += "\nEvent log:\n";
  {
    platform::MutexLock lock(mutex_);
    for (const std::string& l : events_) screen += "  " + l + "\n";
  }
  std::fputs(screen.c_str(), stdout);
  std::fflush(stdout);
}

}  // namespace veldrane::host
