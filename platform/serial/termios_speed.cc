#include "platform/serial/termios_speed.h"

namespace veldrane::platform {
namespace {

struct Speed {
  uint32_t baud;
  speed_t code;
};
constexpr Speed kSpeeds[] = {{300, B300},     {600, B600},       {1200, B1200},    {2400, B2400},
                             {4800, B4800},   {9600, B9600},     {19200, B19200},  {38400, B38400},
                             {57600, B57600}, {115200, B115200}, {230400, B230400}};

}  // namespace

speed_t TermiosSpeed(uint32_t baud) {
  for (const Speed& s : kSpeeds) {
    if (s.baud == baud) return s.code;
  }
  return B0;
}

uint32_t TermiosBaud(speed_t code) {
  for (const Speed& s : kSpeeds) {
    if (s.code == code) return s.baud;
  }
  return 0;
}

}  // namespace veldrane::platform
