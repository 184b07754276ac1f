#include "driver/configure.h"

#include <sys/stat.h>

#include "config/doc.h"
#include "tarko/header.h"

namespace veldrane {

int32_t RunConfigure(CVeldraneDoc& doc, const char* path) {
  doc.SetPath(path);
  struct stat st {};
  if (path && ::stat(path, &st) == 0) {
    if (!doc.Load(path)) {
      CTarkoError::ErrMsg(2002, 1, path);
      return 0;
    }
  }
  // The configuration window is not part of this build: nothing was saved.
  return 0;
}

}  // namespace veldrane
