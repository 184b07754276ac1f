// The frame builders over any station: any kind, station number, decimals count and value (NaN,
// infinities, subnormals, huge magnitudes). A builder never writes outside its 100-byte buffer
// (guard regions on both sides), leaves it untouched on -1, and otherwise returns a length with
// the zero byte after it and the framing of its kind around it.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "comm/frames.h"
#include "config/station_info.h"
#include "hostlink/station_limits.h"

namespace {

using veldrane::kFrameBufferSize;

constexpr size_t kGuard = 64;
constexpr uint8_t kPattern = 0xA5;

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "frames_fuzz: %s\n", what);
  std::abort();
}

// Kinds 0 to 3 show an integer when decimals is 0; with decimals only NaN, infinities and texts
// too long for the buffer fail. Below 1e70 a text with up to 7 decimals fits beside any station
// number (eleven characters at most).
bool TextAlwaysFits(double value, uint32_t decimals) {
  if (decimals == 0) return true;
  return decimals <= 7 && std::isfinite(value) && std::fabs(value) < 1e70;
}

void CheckFraming(int32_t kind, int32_t number, const uint8_t* frame, int length) {
  bool small_station = number >= 0 && number <= 255;
  switch (kind) {
    case 0:
      Require(length >= 5 && frame[0] == 0x02 && frame[1] == '<', "kind 0 opening");
      Require(frame[2] == static_cast<uint8_t>(number & 0xFF), "kind 0 station byte");
      Require(frame[length - 1] == '\r', "kind 0 closing");
      break;
    case 1:
      Require(frame[0] == '(' && frame[length - 1] == '\r', "kind 1 framing");
      break;
    case 2:
      Require(frame[0] == 0x02 && frame[length - 2] == 'f' && frame[length - 1] == 0x06,
              "kind 2 framing");
      break;
    case 3:
      Require(frame[0] == '(' && frame[length - 1] == '\r', "kind 3 framing");
      break;
    case 4:
      Require(frame[0] == 'M' && frame[length - 1] == 0x03, "kind 4 framing");
      if (small_station) Require(length == 8, "kind 4 length");
      break;
    case 5:
    case 6:
      Require(frame[0] == '(' && frame[length - 1] == '\r', "kind 5/6 framing");
      Require(frame[5] == '+' || frame[5] == '-', "kind 5/6 sign byte");
      if (small_station) Require(length == (kind == 5 ? 11 : 13), "kind 5/6 length");
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  CStationInfo station;
  // Mostly the seven kinds, sometimes any integer.
  station.kind = input.ConsumeBool() ? input.ConsumeIntegral<int32_t>()
                                     : input.ConsumeIntegralInRange<int32_t>(0, 6);
  station.number = input.ConsumeBool() ? input.ConsumeIntegral<int32_t>()
                                       : input.ConsumeIntegralInRange<int32_t>(0, 255);
  station.decimals = input.ConsumeBool() ? input.ConsumeIntegral<uint32_t>()
                                         : input.ConsumeIntegralInRange<uint32_t>(0, 9);
  uint64_t bits = input.ConsumeIntegral<uint64_t>();
  double value;
  std::memcpy(&value, &bits, sizeof value);
  station.value.store(value);

  uint8_t storage[kGuard + kFrameBufferSize + kGuard];
  std::memset(storage, kPattern, sizeof storage);
  auto& buffer = *reinterpret_cast<uint8_t(*)[kFrameBufferSize]>(storage + kGuard);
  int length = veldrane::BuildFrame(station, buffer);

  for (size_t i = 0; i < kGuard; ++i) {
    Require(storage[i] == kPattern, "write before the buffer");
    Require(storage[kGuard + kFrameBufferSize + i] == kPattern, "write after the buffer");
  }
  bool known_kind = veldrane::IsValidKind(station.kind);
  if (length == -1) {
    for (uint8_t byte : buffer) Require(byte == kPattern, "failed build touched the buffer");
    Require(station.kind != 4, "kind 4 failed");
    Require(!known_kind || station.kind >= 5 || !TextAlwaysFits(value, station.decimals),
            "kinds 0 to 3 failed on a value they can show");
    return 0;
  }
  Require(known_kind, "a kind outside 0 to 6 built a frame");
  Require(length > 0 && static_cast<size_t>(length) < kFrameBufferSize, "length out of range");
  Require(buffer[length] == 0, "no zero byte after the frame");
  for (size_t i = static_cast<size_t>(length) + 1; i < kFrameBufferSize; ++i) {
    Require(buffer[i] == kPattern, "bytes written beyond the zero byte");
  }
  CheckFraming(station.kind, station.number, buffer, length);
  return 0;
}
