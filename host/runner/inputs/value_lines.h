// Lines of tag values that a script feeds the host runner: "TAG VALUE", one per line.
#pragma once

#include <cstddef>
#include <string>

#include "platform/text/utf8.h"

namespace veldrane::host {

// Lines longer than this are refused (the rest of such a line is skipped, never read as the
// next line).
inline constexpr size_t kMaxValueLine = 4096;

struct ValueLine {
  enum Kind { kValue, kBlank, kError } kind = kBlank;
  std::string tag;  // code page 949 bytes, as the tag database holds them
  double value = 0;
  std::string error;  // what is wrong, for kError
};

// Reads a whole text as a decimal number (a sign, digits, a point, an exponent), as the value
// of a line. "nan" and "inf" read as numbers but are refused: no meter can show them.
enum class NumberResult { kNumber, kNotANumber, kOutOfRange, kNotFinite };
NumberResult ParseNumber(const std::string& text, double* value);

// Parses one line (without its line end). Blank lines and lines starting with '#' are kBlank.
// A tag may be written in UTF-8 (converted to code page 949) or as raw code page 949 bytes.
// The value is a finite decimal number (a sign, digits, a point, an exponent).
ValueLine ParseValueLine(const std::string& line);

// Splits a byte stream into lines, refusing those longer than kMaxValueLine.
class LineSplitter {
 public:
  // Feeds bytes; calls on_line(text, too_long) for each complete line.
  template <typename OnLine>
  void Feed(const char* data, size_t size, OnLine on_line) {
    for (size_t i = 0; i < size; ++i) {
      char c = data[i];
      if (c == '\n') {
        if (!pending_.empty() && pending_.back() == '\r') pending_.pop_back();
        Emit(on_line);
      } else if (pending_.size() < kMaxValueLine + 1) {
        pending_ += c;
      } else {
        too_long_ = true;
      }
    }
  }
  // The last line when the data ended without a line end.
  template <typename OnLine>
  void Finish(OnLine on_line) {
    if (!pending_.empty() || too_long_) Emit(on_line);
  }

 private:
  // A UTF-8 byte-order mark that an editor put at the start is not part of the first line.
  template <typename OnLine>
  void Emit(OnLine on_line) {
    if (first_ && pending_.compare(0, platform::kUtf8Bom.size(), platform::kUtf8Bom) == 0) {
      pending_.erase(0, platform::kUtf8Bom.size());
    }
    first_ = false;
    // Room was kept for one more byte, the '\r' of a line end: a line that used it for text is
    // over the limit.
    if (pending_.size() > kMaxValueLine) too_long_ = true;
    on_line(pending_, too_long_);
    pending_.clear();
    too_long_ = false;
  }

  std::string pending_;
  bool too_long_ = false;
  bool first_ = true;
};

}  // namespace veldrane::host
