// Resynchronising on the line: at each byte that could open a frame the grammar is tried; a byte
// at which no frame can start is rejected alone and the search resumes at the next one, so a
// frame right after noise or after a frame cut short is still found.
#include "tools/meter/decoder.h"

namespace veldrane::meter {

void FrameDecoder::Feed(const uint8_t* data, size_t size, std::vector<Decoded>& out) {
  for (size_t i = 0; i < size; ++i) {
    pending_.push_back(data[i]);
    Process(out);
  }
}

void FrameDecoder::Flush(std::vector<Decoded>& out) {
  Reject(pending_.size(), out);
  HandOutRejected(out);
}

void FrameDecoder::Process(std::vector<Decoded>& out) {
  while (!pending_.empty()) {
    if (after_frame_ && pending_.front() == 0) {
      // The RTS/CTS line's zero byte after a frame.
      after_frame_ = false;
      ++trailer_zeros_;
      pending_.erase(pending_.begin());
      continue;
    }
    MeterFrame frame;
    size_t length = 0;
    Match match = MatchFrame(pending_.data(), pending_.size(), kinds_, frame, length);
    if (match == Match::kNeedMore) return;
    if (match == Match::kNoFrame) {
      Reject(1, out);
      continue;
    }
    HandOutRejected(out);
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(length));
    after_frame_ = true;
    ++frames_;
    Decoded decoded;
    decoded.is_frame = true;
    decoded.frame = std::move(frame);
    out.push_back(std::move(decoded));
  }
}

void FrameDecoder::Reject(size_t count, std::vector<Decoded>& out) {
  after_frame_ = false;
  for (size_t i = 0; i < count; ++i) {
    rejected_.push_back(pending_[i]);
    if (rejected_.size() >= kMaxRejectedRun) HandOutRejected(out);
  }
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(count));
  rejected_bytes_ += count;
}

void FrameDecoder::HandOutRejected(std::vector<Decoded>& out) {
  if (rejected_.empty()) return;
  Decoded decoded;
  decoded.bytes = std::move(rejected_);
  rejected_.clear();
  out.push_back(std::move(decoded));
}

}  // namespace veldrane::meter
