// What a meter's display shows: the width of each model's display, and the text a station's
// meter shows for a value, found by building the station's frame and decoding it as the virtual
// meter does, so that every view of a meter agrees with the panel in the hall.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace veldrane::meter {

// Characters of the model's display, sign included: as many as its widest value; eight where
// the display has no fixed digits.
size_t FaceWidth(int32_t kind);

// The meter's face: what it shows right-aligned in the model's digits, "[   12.5]".
std::string MeterFace(int32_t kind, const std::string& shown);

// The text the meter of a station (kind, number, decimals) shows after a frame for `value`
// ("12.5", "-1999"); false when the value cannot be shown (no frame goes out: the meter keeps
// what it showed before).
bool ShownFor(int32_t kind, int32_t number, uint32_t decimals, double value, std::string* shown);

}  // namespace veldrane::meter
