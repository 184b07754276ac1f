// The exit statuses of veldrane-host, as its help lists them.
#pragma once

namespace veldrane::host {

enum ExitStatus {
  kOk = 0,
  kNotSaved = 1,
  kUsage = 2,
  kFileNotOpened = 3,
  kPortNotOpened = 4,
  kNoDriver = 5,
  kDriverDidNotStop = 6,
  kNoWindow = 7,
};

}  // namespace veldrane::host
