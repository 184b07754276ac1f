// The texts of the virtual meter: plain lines (one per frame, for scripts and logs), raw lines
// (each frame in hex with its decoding), the live panel and the closing summary.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/meter/frame_match.h"
#include "tools/meter/meter_board.h"
#include "tools/meter/meter_face.h"

namespace veldrane::meter {

// "12:00:01.234".
std::string ClockText(WallTime when);
// "28 30 31 29".
std::string HexText(const std::vector<uint8_t>& bytes);
// The model of a meter kind as the station dialog names it, in UTF-8.
std::string ModelName(int32_t kind);

// "12:00:01.234 station=1 kind=1 shows=12.5 name=PUMP1", with " ambiguous" when the bytes
// allowed another reading and " unconfigured" when a configuration was given without this meter.
std::string PlainFrameLine(const MeterFrame& frame, const VirtualMeter& meter, bool configured,
                           WallTime when);
// "12:00:01.234 rejected=2 bytes=78 78".
std::string PlainRejectedLine(const std::vector<uint8_t>& bytes, WallTime when);
// "12:00:01.234 rejected=5120 bytes in 40 runs not shown", after a flood of noise.
std::string PlainUncountedLine(uint64_t runs, uint64_t bytes, WallTime when);
// "12:00:01.234  28 30 31 29 31 33 0D  kind 1 station 1 shows 13 (한국텔레시스 DIM)".
std::string RawFrameLine(const MeterFrame& frame, WallTime when);
// "12:00:01.234  78 78  no frame (2 bytes)".
std::string RawRejectedLine(const std::vector<uint8_t>& bytes, WallTime when);

struct PanelStatus {
  std::string line;  // device name and settings
  uint64_t rejected = 0;
  uint64_t pending = 0;  // bytes of a frame not finished yet
  double seconds_left = -1;
  bool stopped = false;
};

// The whole live panel, ready to draw from the top left corner of a terminal.
std::string PanelText(const MeterBoard& board, const PanelStatus& status, WallTime now);
// One line per meter and the totals, printed when the meter stops.
std::string SummaryText(const MeterBoard& board, uint64_t rejected);

}  // namespace veldrane::meter
