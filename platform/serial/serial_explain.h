// What a user is told when a serial port does not open: the port and the device (or the device
// server) behind it, the cause, and what to do about it where there is something to do.
#pragma once

#include <string>

#include "platform/serial/serial_device.h"

namespace veldrane::platform {

// `port` is a COM name ("COM3", mapped as the serial device maps it) or a device path. One
// line, without the program's name, e.g. "COM3 (/etc/veldrane/ports/com3 -> /dev/ttyUSB0):
// busy: another program holds the port".
std::string ExplainSerialFailure(const std::string& port, const SerialResult& result);

// Why the RTS/CTS handshake cannot work on `port` (as above), or empty where it may: a raw TCP
// port of a device server and a pseudo-terminal carry no modem lines, so every frame fails.
std::string ExplainHandshakeProblem(const std::string& port);

}  // namespace veldrane::platform
