#include <cstdlib>

#include "tests/support/environment.h"

namespace veldrane::test {

void UnsetEnvironment(const char* name) {
  _putenv_s(name, "");
}

}  // namespace veldrane::test
