// Removes a variable from the process's environment (environment_posix.cc,
// environment_windows.cc).
#pragma once

namespace veldrane::test {

void UnsetEnvironment(const char* name);

}  // namespace veldrane::test
