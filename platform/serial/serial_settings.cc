#include "platform/serial/serial_settings.h"

#include "platform/serial/termios_speed.h"

namespace veldrane::platform {

bool SettingsInRange(const SerialSettings& s) {
  return TermiosSpeed(s.baud_rate) != B0 && (s.byte_size == 7 || s.byte_size == 8) &&
         (s.stop_bits == 1 || s.stop_bits == 2) &&
         (s.parity == Parity::kNone || s.parity == Parity::kOdd || s.parity == Parity::kEven);
}

uint64_t CharacterTimeUs(const SerialSettings& s, size_t count) {
  const uint64_t bits = 1u + s.byte_size + (s.parity != Parity::kNone ? 1u : 0u) + s.stop_bits;
  const uint64_t baud = s.baud_rate ? s.baud_rate : 1;
  return (uint64_t{count} * bits * 1000000u + baud - 1) / baud;
}

}  // namespace veldrane::platform
