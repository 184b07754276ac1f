#include "platform/path.h"

namespace veldrane::platform {

const char* const kPathSeparators = "/\\";

}  // namespace veldrane::platform
