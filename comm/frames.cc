// The seven frame builders (written with the frames).
#include "comm/frames.h"

#include "config/station_info.h"

namespace veldrane {

int BuildFrameKind0(const CStationInfo&, uint8_t (&)[kFrameBufferSize]) { return -1; }
int BuildFrameKind1(const CStationInfo&, uint8_t (&)[kFrameBufferSize]) { return -1; }
int BuildFrameKind2(const CStationInfo&, uint8_t (&)[kFrameBufferSize]) { return -1; }
int BuildFrameKind3(const CStationInfo&, uint8_t (&)[kFrameBufferSize]) { return -1; }
int BuildFrameKind4(const CStationInfo&, uint8_t (&)[kFrameBufferSize]) { return -1; }
int BuildFrameKind5(const CStationInfo&, uint8_t (&)[kFrameBufferSize]) { return -1; }
int BuildFrameKind6(const CStationInfo&, uint8_t (&)[kFrameBufferSize]) { return -1; }
int BuildFrame(const CStationInfo&, uint8_t (&)[kFrameBufferSize]) { return -1; }

}  // namespace veldrane
