#include "host/runner/outputs/plain_lines.h"

#include "host/runner/outputs/event_text.h"

namespace veldrane::host {

std::string PlainLines::Name() const {
  return OutputToJournal() ? "journal" : "plain";
}

void PlainLines::OnEvent(const EventEntry& event) {
  std::string text = EventText(event);
  std::lock_guard<std::mutex> lock(mutex_);
  PrintLines(stdout, EventTextPriority(event), text);
}

}  // namespace veldrane::host
