// What a message on a value topic carries.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace veldrane::host {

// Payloads longer than this are refused unread.
inline constexpr size_t kMaxPayload = 4096;

struct Payload {
  bool ok = false;
  double value = 0;
  std::string error;        // what is wrong, when not ok
  bool not_finite = false;  // a number, but NaN or an infinity: no meter can show it
};

// A number as a value line writes it ("12.5", "-3e2", "nan"), blanks and line ends around it
// allowed; or a JSON object with a numeric member "value" ({"value": 12.5, "unit": "m3/h"}).
Payload ParsePayload(std::string_view payload);

}  // namespace veldrane::host
