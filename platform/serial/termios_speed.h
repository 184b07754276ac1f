// Baud rates as termios speed codes (POSIX), shared by the driver's serial device and the
// virtual meter's line.
#pragma once

#include <termios.h>

#include <cstdint>

namespace veldrane::platform {

// The speed code of a baud rate, or B0 for a rate termios has no code for.
speed_t TermiosSpeed(uint32_t baud);
// The baud rate of a speed code, or 0 for a code not in the table.
uint32_t TermiosBaud(speed_t code);

}  // namespace veldrane::platform
