// What every serial device makes of the line settings, whether the line is a local terminal or
// a device server's port.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/serial/serial_device.h"

namespace veldrane::platform {

// False for settings no line can carry (a baud rate without a termios code, 5 or 6 data bits,
// 1.5 stop bits): they are refused instead of run at whatever the device had.
bool SettingsInRange(const SerialSettings& settings);

// The time `count` characters take on the line: start bit, data bits, parity, stop bits.
uint64_t CharacterTimeUs(const SerialSettings& settings, size_t count);

}  // namespace veldrane::platform
