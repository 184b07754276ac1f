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
inline constexpr int32_t kFrameKindCount = 7;

// Each returns the frame length, or -1 when the value cannot be shown (outside the limits of
// kinds 5 and 6, or a text too long for the buffer); on -1 the buffer is left untouched.
int BuildFrameKind0(const CStationInfo& station, uint8_t (&buffer)[kFrameBufferSize]);
int BuildFrameKind1(const CStationInfo& station, uint8_t (&buffer)[kFrameBufferSize]);
int BuildFrameKind2(const CStationInfo& station, uint8_t (&buffer)[kFrameBufferSize]);
int BuildFrameKind3(const CStationInfo& station, uint8_t (&buffer)[kFrameBufferSize]);
int BuildFrameKind4(const CStationInfo& station, uint8_t (&buffer)[kFrameBufferSize]);
int BuildFrameKind5(const CStationInfo& station, uint8_t (&buffer)[kFrameBufferSize]);
int BuildFrameKind6(const CStationInfo& station, uint8_t (&buffer)[kFrameBufferSize]);

// The builder of the station's kind; -1 for a kind outside 0 to 6.
int BuildFrame(const CStationInfo& station, uint8_t (&buffer)[kFrameBufferSize]);

}  // namespace veldrane
