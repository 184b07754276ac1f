// Payloads from anyone who may publish on the broker: the reader never crashes, a payload is a
// value or has a reason, and what a message shows of it holds no control character.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "host/runner/mqtt/mqtt_payload.h"
#include "platform/text/display_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view payload(reinterpret_cast<const char*>(data), size);
  veldrane::host::Payload parsed = veldrane::host::ParsePayload(payload);
  if (parsed.ok != parsed.error.empty()) std::abort();
  std::string shown = veldrane::platform::Excerpt(payload);
  if (shown.size() > 4 * 40 + 3) std::abort();
  for (char c : shown) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) std::abort();
  }
  return 0;
}
