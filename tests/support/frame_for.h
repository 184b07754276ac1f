// The frame the driver sends for one station, for tests and fuzz targets that need wire bytes.
#pragma once

#include <cstdint>
#include <vector>

#include "comm/frames.h"
#include "config/station_info.h"

namespace veldrane::test {

// The bytes of the frame for a station of this kind, number and decimals showing `value`
// (without the trailing zero byte); empty when the value has no frame.
inline std::vector<uint8_t> FrameFor(int32_t kind, int32_t number, uint32_t decimals,
                                     double value) {
  CStationInfo station;
  station.kind = kind;
  station.number = number;
  station.decimals = decimals;
  station.value.store(value);
  uint8_t buffer[kFrameBufferSize];
  int length = BuildFrame(station, buffer);
  if (length < 0) return {};
  return {buffer, buffer + length};
}

}  // namespace veldrane::test
