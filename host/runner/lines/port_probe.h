// Why the driver could not open a configuration's port, for the runner's user. The driver tells
// its host only that the port did not open; the runner checks the port settings as the driver
// does and then opens the port itself through the platform layer to learn the cause.
#pragma once

#include <string>

namespace veldrane::host {

// One line: the port, its device, the cause and the remedy.
std::string ExplainPortFailure(const std::string& config_path);

}  // namespace veldrane::host
