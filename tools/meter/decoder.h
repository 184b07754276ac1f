// The streaming decoder of a meter line: bytes in as they arrive, frames out as they complete.
//
// Bytes that belong to no frame (noise, a frame cut short, a wrong baud rate) are counted and
// handed out in runs, so that a monitor can show them. A zero byte straight after a frame is the
// trailer of the RTS/CTS line and is taken silently; any other zero byte is not part of a frame.
// The frame grammar and how ambiguous readings are settled are in frame_match.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tools/meter/frame_match.h"

namespace veldrane::meter {

// One thing the decoder found on the line: a frame, or a run of bytes that were no frame.
struct Decoded {
  bool is_frame = false;
  MeterFrame frame;            // when is_frame
  std::vector<uint8_t> bytes;  // when not: the rejected bytes, in order
};

class FrameDecoder {
 public:
  // Runs of rejected bytes are handed out at the next frame, at Flush, or at this length.
  static constexpr size_t kMaxRejectedRun = 64;

  // The kind configured for a station settles the ambiguous readings (frame_match.h).
  void SetStationKind(int32_t station, int32_t kind) { kinds_.Set(station, kind); }
  const StationKinds& kinds() const { return kinds_; }

  // Takes `size` bytes and appends what they complete to `out`.
  void Feed(const uint8_t* data, size_t size, std::vector<Decoded>& out);
  // The line went quiet or ended: an unfinished frame will not complete; its bytes count as
  // rejected, and the pending run is handed out.
  void Flush(std::vector<Decoded>& out);

  uint64_t frames() const { return frames_; }
  uint64_t rejected_bytes() const { return rejected_bytes_; }
  // Zero bytes taken as the RTS/CTS trailer of a frame.
  uint64_t trailer_zeros() const { return trailer_zeros_; }
  // Bytes of a frame begun but not yet finished.
  size_t pending() const { return pending_.size(); }

 private:
  void Process(std::vector<Decoded>& out);
  void Reject(size_t count, std::vector<Decoded>& out);
  void HandOutRejected(std::vector<Decoded>& out);

  StationKinds kinds_;
  std::vector<uint8_t> pending_;
  std::vector<uint8_t> rejected_;
  bool after_frame_ = false;
  uint64_t frames_ = 0;
  uint64_t rejected_bytes_ = 0;
  uint64_t trailer_zeros_ = 0;
};

}  // namespace veldrane::meter
