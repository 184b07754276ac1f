#include "tools/meter/meter_view.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "comm/meter_kinds.h"
#include "platform/text/cp949.h"
#include "platform/text/text_width.h"

namespace veldrane::meter {
namespace {

std::string Format(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

}  // namespace

std::string ClockText(WallTime when) {
  auto since_epoch = when.time_since_epoch();
  std::time_t seconds = std::chrono::duration_cast<std::chrono::seconds>(since_epoch).count();
  auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(since_epoch).count() % 1000;
  std::tm tm{};
  localtime_r(&seconds, &tm);
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", tm.tm_hour, tm.tm_min, tm.tm_sec,
                static_cast<int>(millis));
  return text;
}

std::string HexText(const std::vector<uint8_t>& bytes) {
  std::string text;
  char hex[4];
  for (uint8_t byte : bytes) {
    std::snprintf(hex, sizeof hex, text.empty() ? "%02X" : " %02X", byte);
    text += hex;
  }
  return text;
}

std::string ModelName(int32_t kind) {
  const MeterKind* model = FindMeterKind(kind);
  if (!model) return "kind " + std::to_string(kind);
  return platform::Cp949ToUtf8(std::string(model->name));
}

std::string PlainFrameLine(const MeterFrame& frame, const VirtualMeter& meter, bool configured,
                           WallTime when) {
  std::string line = ClockText(when) + " station=" + std::to_string(frame.station) +
                     " kind=" + std::to_string(frame.kind) + " shows=" + frame.text;
  if (frame.ambiguous) line += " ambiguous";
  if (configured && !meter.configured) line += " unconfigured";
  if (!meter.name.empty()) line += " name=" + meter.name;
  return line;
}

std::string PlainRejectedLine(const std::vector<uint8_t>& bytes, WallTime when) {
  return ClockText(when) + " rejected=" + std::to_string(bytes.size()) + " bytes=" + HexText(bytes);
}

std::string PlainUncountedLine(uint64_t runs, uint64_t bytes, WallTime when) {
  return ClockText(when) + " rejected=" + std::to_string(bytes) + " bytes in " +
         std::to_string(runs) + " runs not shown";
}

std::string RawFrameLine(const MeterFrame& frame, WallTime when) {
  std::string line = ClockText(when) + "  " + HexText(frame.bytes) + "  kind " +
                     std::to_string(frame.kind) + " station " + std::to_string(frame.station) +
                     " shows " + frame.text + " (" + ModelName(frame.kind) + ")";
  if (frame.ambiguous) line += " ambiguous";
  return line;
}

std::string RawRejectedLine(const std::vector<uint8_t>& bytes, WallTime when) {
  return ClockText(when) + "  " + HexText(bytes) + "  no frame (" + std::to_string(bytes.size()) +
         (bytes.size() == 1 ? " byte)" : " bytes)");
}

std::string PanelText(const MeterBoard& board, const PanelStatus& status, WallTime now) {
  std::string text = "veldrane-meter  " + status.line + "\n";
  text += "frames " + std::to_string(board.frames()) + "   bad bytes " +
          std::to_string(status.rejected);
  if (status.pending > 0) text += "   receiving " + std::to_string(status.pending) + " bytes";
  text += "\n\n";
  text += platform::PadLeft("STATION", 7) + "  " + platform::PadRight("MODEL", 27) +
          platform::PadRight("NAME", 16) + platform::PadRight("DISPLAY", 12) +
          platform::PadLeft("FRAMES", 7) + "  LAST\n";
  if (board.meters().empty()) text += "   (no frame yet)\n";
  for (const VirtualMeter& meter : board.meters()) {
    std::string name = meter.name;
    if (board.has_configuration() && !meter.configured) name = "(not configured)";
    std::string last = "-";
    if (meter.frames > 0) {
      double age = std::chrono::duration<double>(now - meter.last).count();
      last = ClockText(meter.last).substr(0, 8) + Format(" (%.1f s ago)", age);
    }
    text += platform::PadLeft(std::to_string(meter.number), 7) + "  " +
            platform::PadRight(std::to_string(meter.kind) + " " + ModelName(meter.kind), 27) +
            platform::PadRight(name, 16) +
            platform::PadRight(MeterFace(meter.kind, meter.shown), 12) +
            platform::PadLeft(std::to_string(meter.frames), 7) + "  " + last + "\n";
  }
  text += "\n";
  if (status.stopped) return text + "stopped\n";
  if (status.seconds_left >= 0) text += Format("stops in %.0f s; ", std::ceil(status.seconds_left));
  text += "Ctrl-C to stop\n";
  return text;
}

std::string SummaryText(const MeterBoard& board, uint64_t rejected) {
  std::string text;
  for (const VirtualMeter& meter : board.meters()) {
    text += "summary station=" + std::to_string(meter.number) +
            " kind=" + std::to_string(meter.kind) + " frames=" + std::to_string(meter.frames);
    if (meter.frames > 0) text += " shows=" + meter.shown;
    if (!meter.name.empty()) text += " name=" + meter.name;
    text += "\n";
  }
  text += "summary frames=" + std::to_string(board.frames()) +
          " rejected=" + std::to_string(rejected) + "\n";
  return text;
}

}  // namespace veldrane::meter
