// The seven meter kinds: the model's name, the builder of its frame and the values its display
// holds. The frames, the meter-line decoder, veldrane-cfg and the host runner's table all read
// them here.
#pragma once

#include <cstdint>

#include "comm/frames.h"
#include "hostlink/station_limits.h"

namespace veldrane {

using FrameBuilder = int (*)(const CStationInfo& station, uint8_t (&buffer)[kFrameBufferSize]);

struct MeterKind {
  int32_t kind;
  const char* name;        // code page 949, as the station dialog lists the model
  const char* short_name;  // ASCII, for tables on a terminal
  FrameBuilder build;
  // The whole values the display holds, where it has a fixed number of digits: kinds 5 and 6
  // refuse a value outside (no frame), kind 4 shows the low 16 bits of any value as two's
  // complement. Kinds 0 to 3 send the value's text whatever its size.
  bool bounded;
  int32_t lowest;
  int32_t highest;
};

// Every kind, in order of kind.
extern const MeterKind kMeterKinds[kKindCount];

// The kind's entry; null for a kind outside 0 to 6.
inline const MeterKind* FindMeterKind(int32_t kind) {
  return IsValidKind(kind) ? &kMeterKinds[kind] : nullptr;
}

}  // namespace veldrane
