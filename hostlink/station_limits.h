// What a station's configured numbers may be: the meter kind, the station number on the line and
// the decimal places shown. The station dialog, the text-line reader, the checks of veldrane-cfg,
// the frame table and the meter-line decoder all take them from here; they sit beside the texts,
// below the document, so that the window shows the same ranges it checks.
#pragma once

#include <cstdint>
#include <iterator>

#include "hostlink/texts.h"

namespace veldrane {

inline constexpr int32_t kKindCount = 7;  // meter kinds 0 to 6
// The station dialog lists the models by kind from the texts.
static_assert(std::size(texts::kKindNames) == kKindCount);
inline constexpr int32_t kMaxStationNumber = 255;
inline constexpr int32_t kStationNumberCount = kMaxStationNumber + 1;  // 0 to 255
inline constexpr uint32_t kMaxDecimals = 7;

constexpr bool IsValidKind(int32_t kind) {
  return kind >= 0 && kind < kKindCount;
}
constexpr bool IsValidStationNumber(int32_t number) {
  return number >= 0 && number <= kMaxStationNumber;
}
constexpr bool IsValidDecimals(uint32_t decimals) {
  return decimals <= kMaxDecimals;
}

}  // namespace veldrane
