// The station tree's pictures: a strip of 16-pixel cells drawn here, 58 x 16 pixels with magenta
// (255, 0, 255) as the see-through colour. Cell 0 is the configuration (two lines meeting over a
// small black box), cell 1 a station (the front of a black meter with rows of lamps), cell 2 the
// digits 0 and 1 between braces (not used).
#pragma once

#include <QIcon>
#include <QImage>

namespace veldrane::ui {

inline constexpr int kImageCell = 16;
inline constexpr int kRootImage = 0;
inline constexpr int kStationImage = 1;

QImage StationImageStrip();
// The cell `index` with the see-through colour masked out.
QIcon StationImage(int index);

}  // namespace veldrane::ui
