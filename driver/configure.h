// The configure procedure behind DrvConfigure.
#pragma once

#include <cstdint>

class CVeldraneDoc;

namespace veldrane {

// Sets the document's path; loads the file when one exists (error 2002 and 0 when it cannot
// be loaded); runs the configuration window. Returns 1 when the user saved at least once.
int32_t RunConfigure(CVeldraneDoc& doc, const char* path);

}  // namespace veldrane
