#include "comm/meter_kinds.h"

#include "hostlink/texts.h"

namespace veldrane {

constexpr MeterKind kMeterKinds[kKindCount] = {
    {0, texts::kKindNames[0], "DPM", &BuildFrameKind0, false, 0, 0},
    {1, texts::kKindNames[1], "DIM", &BuildFrameKind1, false, 0, 0},
    {2, texts::kKindNames[2], "WD-7SIG", &BuildFrameKind2, false, 0, 0},
    {3, texts::kKindNames[3], "WI94-DVM5V", &BuildFrameKind3, false, 0, 0},
    {4, texts::kKindNames[4], "SKM-500", &BuildFrameKind4, true, -32768, 32767},
    {5, texts::kKindNames[5], "C&M 4-digit", &BuildFrameKind5, true, -1999, 9999},
    {6, texts::kKindNames[6], "C&M 6-digit", &BuildFrameKind6, true, -199999, 999999},
};

static_assert(sizeof texts::kKindNames / sizeof texts::kKindNames[0] == kKindCount,
              "one model name per meter kind");

}  // namespace veldrane
