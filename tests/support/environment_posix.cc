#include <cstdlib>

#include "tests/support/environment.h"

namespace veldrane::test {

void UnsetEnvironment(const char* name) {
  unsetenv(name);
}

}  // namespace veldrane::test
