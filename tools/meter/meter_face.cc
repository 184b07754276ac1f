#include "tools/meter/meter_face.h"

#include <algorithm>

#include "comm/frames.h"
#include "comm/meter_kinds.h"
#include "config/station_info.h"
#include "platform/text/text_width.h"
#include "tools/meter/frame_match.h"

namespace veldrane::meter {

size_t FaceWidth(int32_t kind) {
  const MeterKind* model = FindMeterKind(kind);
  if (!model || !model->bounded) return 8;
  return std::max(std::to_string(model->lowest).size(), std::to_string(model->highest).size());
}

std::string MeterFace(int32_t kind, const std::string& shown) {
  return "[" + platform::PadLeft(shown, FaceWidth(kind)) + "]";
}

bool ShownFor(int32_t kind, int32_t number, uint32_t decimals, double value, std::string* shown) {
  CStationInfo station;
  station.kind = kind;
  station.number = number;
  station.decimals = decimals;
  station.value.store(value);
  uint8_t buffer[kFrameBufferSize];
  int length = BuildFrame(station, buffer);
  if (length <= 0) return false;
  // The station's own kind settles the readings that another kind could share.
  StationKinds kinds;
  kinds.Set(number, kind);
  MeterFrame frame;
  size_t matched = 0;
  if (MatchFrame(buffer, static_cast<size_t>(length), kinds, frame, matched) != Match::kFrame) {
    return false;
  }
  *shown = frame.text;
  return true;
}

}  // namespace veldrane::meter
