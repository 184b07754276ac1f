// The frames of the seven meter models: pure functions of the station's kind, number, decimals
// and current value. Each builder writes the frame at the start of the buffer followed by one
// zero byte (not counted in the length; the RTS/CTS line sends it too).
#pragma once

#include <cstddef>
#include <cstdint>

class CStationInfo;

namespace veldrane {

// The frame buffer the send cycle gives a builder.
inline constexpr size_t kFrameBufferSize = 100;

// Each returns the frame length, or -1 when the value cannot be shown; on -1 the buffer is left
// untouched. A value cannot be shown when it is outside the limits of kinds 5 and 6, when the
// frame and its zero byte would not fit the buffer (fixed-point texts of about 1e85 and more, or
// a decimals count far beyond the 0 to 7 the station dialog offers: any count is written as
// asked while it fits), or, in kinds 0 to 3 with decimals, when it is NaN or infinite. The
// fixed-point text rounds the double's exact value, a tie going away from zero.
int BuildFrameKind0(const CStationInfo& station, uint8_t (&buffer)[kFrameBufferSize]);
int BuildFrameKind1(const CStationInfo& station, uint8_t (&buffer)[kFrameBufferSize]);
int BuildFrameKind2(const CStationInfo& station, uint8_t (&buffer)[kFrameBufferSize]);
int BuildFrameKind3(const CStationInfo& station, uint8_t (&buffer)[kFrameBufferSize]);
int BuildFrameKind4(const CStationInfo& station, uint8_t (&buffer)[kFrameBufferSize]);
int BuildFrameKind5(const CStationInfo& station, uint8_t (&buffer)[kFrameBufferSize]);
int BuildFrameKind6(const CStationInfo& station, uint8_t (&buffer)[kFrameBufferSize]);

// The builder of the station's kind (meter_kinds.h); -1 for a kind outside 0 to 6.
int BuildFrame(const CStationInfo& station, uint8_t (&buffer)[kFrameBufferSize]);

}  // namespace veldrane
