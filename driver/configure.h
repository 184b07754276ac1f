// The configure procedure behind DrvConfigure.
#pragma once

#include <cstdint>

class CVeldraneDoc;

namespace veldrane {

// The error-box code with which the driver says that the configuration window cannot open
// (no window module in this installation, no display); the text says why.
inline constexpr int32_t kWindowUnavailable = 2706;

// Sets the document's path; loads the file when one exists (error 2002 and 0 when it cannot
// be loaded); runs the configuration window. Returns 1 when the user saved at least once.
int32_t RunConfigure(CVeldraneDoc& doc, const char* path);

}  // namespace veldrane
