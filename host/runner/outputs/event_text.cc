#include "host/runner/outputs/event_text.h"

#include <ctime>

namespace veldrane::host {
namespace {

std::string Stamp(std::chrono::system_clock::time_point time) {
  char stamp[16];
  std::time_t at = std::chrono::system_clock::to_time_t(time);
  std::tm tm{};
  localtime_r(&at, &tm);
  std::strftime(stamp, sizeof stamp, "%H:%M:%S", &tm);
  return stamp;
}

}  // namespace

std::string EventText(const EventEntry& event) {
  static const char* const kLevels[] = {"setup", "fail ", "state"};
  std::string text =
      std::string(event.level >= 0 && event.level <= 2 ? kLevels[event.level] : "?") + "  " +
      event.text;
  return OutputToJournal() ? text : Stamp(event.time) + " " + text;
}

}  // namespace veldrane::host
