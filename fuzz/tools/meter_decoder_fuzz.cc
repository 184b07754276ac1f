// The meter-line decoder over any bytes, in any chunks, and over the builders' own frames.
//
// Any bytes: every byte fed ends up in exactly one place (a frame, a rejected run, an RTS/CTS
// zero byte, or still pending), no frame is longer than a frame can be, and every frame found
// is found again when fed alone.
// Built frames (first input byte odd): a frame of any station 0 to 255, kind, decimals 0 to 7 and
// value, between noise, decodes to one frame whose reading builds the very same bytes, with the
// station's kind configured or not.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "comm/frames.h"
#include "config/station_info.h"
#include "hostlink/station_limits.h"
#include "tests/support/frame_for.h"
#include "tools/meter/decoder.h"

namespace {

using veldrane::meter::Decoded;
using veldrane::meter::FrameDecoder;
using veldrane::meter::MeterFrame;

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "meter_decoder_fuzz: %s\n", what);
  std::abort();
}

using veldrane::test::FrameFor;

void AnyBytes(FuzzedDataProvider& input) {
  FrameDecoder decoder;
  for (int i = input.ConsumeIntegralInRange(0, 3); i > 0; --i) {
    decoder.SetStationKind(input.ConsumeIntegral<uint8_t>(), input.ConsumeIntegralInRange(0, 6));
  }
  std::vector<Decoded> out;
  size_t fed = 0;
  while (input.remaining_bytes() > 0) {
    std::vector<uint8_t> chunk =
        input.ConsumeBytes<uint8_t>(input.ConsumeIntegralInRange<size_t>(1, 64));
    decoder.Feed(chunk.data(), chunk.size(), out);
    fed += chunk.size();
  }
  Require(
      decoder.frames() + decoder.rejected_bytes() + decoder.trailer_zeros() + decoder.pending() <=
          fed,
      "more found than fed");
  decoder.Flush(out);
  Require(decoder.pending() == 0, "pending after flush");
  size_t in_frames = 0;
  size_t in_runs = 0;
  for (const Decoded& item : out) {
    if (!item.is_frame) {
      Require(!item.bytes.empty() && item.bytes.size() <= FrameDecoder::kMaxRejectedRun,
              "rejected run length");
      in_runs += item.bytes.size();
      continue;
    }
    const MeterFrame& frame = item.frame;
    Require(veldrane::IsValidKind(frame.kind), "kind out of range");
    Require(!frame.bytes.empty() && frame.bytes.size() <= veldrane::meter::kMaxFrameLength,
            "frame length");
    in_frames += frame.bytes.size();
    FrameDecoder alone;
    std::vector<Decoded> again;
    alone.Feed(frame.bytes.data(), frame.bytes.size(), again);
    Require(again.size() == 1 && again[0].is_frame && alone.rejected_bytes() == 0,
            "a frame is not found again alone");
  }
  Require(in_runs == decoder.rejected_bytes(), "rejected count");
  Require(in_frames + in_runs + decoder.trailer_zeros() == fed, "bytes lost");
}

void BuiltFrame(FuzzedDataProvider& input) {
  auto kind = input.ConsumeIntegralInRange<int32_t>(0, 6);
  auto station = input.ConsumeIntegralInRange<int32_t>(0, 255);
  auto decimals = input.ConsumeIntegralInRange<uint32_t>(0, 7);
  bool configured = input.ConsumeBool();
  double value = input.ConsumeBool() ? input.ConsumeFloatingPoint<double>()
                                     : input.ConsumeFloatingPointInRange<double>(-3e6, 3e6);
  std::vector<uint8_t> frame = FrameFor(kind, station, decimals, value);
  if (frame.empty()) return;
  // Noise that cannot end a frame before it: a CR or an ACK closes the noise off.
  std::vector<uint8_t> line = input.ConsumeBytes<uint8_t>(input.ConsumeIntegralInRange(0, 8));
  if (!line.empty()) line.push_back('\r');
  line.insert(line.end(), frame.begin(), frame.end());
  FrameDecoder decoder;
  if (configured) decoder.SetStationKind(station, kind);
  std::vector<Decoded> out;
  decoder.Feed(line.data(), line.size(), out);
  decoder.Flush(out);
  const MeterFrame* found = nullptr;
  for (const Decoded& item : out) {
    if (item.is_frame && item.frame.bytes == frame) found = &item.frame;
  }
  Require(found != nullptr, "the built frame was not found");
  Require(FrameFor(found->kind, found->station, found->decimals, found->value) == frame,
          "the reading does not build the same bytes");
  if (configured || !found->ambiguous) {
    Require(found->kind == kind && found->station == station, "wrong kind or station");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  FuzzedDataProvider input(data + 1, size - 1);
  if (data[0] & 1) {
    BuiltFrame(input);
  } else {
    AnyBytes(input);
  }
  return 0;
}
