// Value lines from any script or pipe: the parser never crashes, a refused line says why, a
// value has a tag, and the lines are the same whether the bytes come at once or one by one.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/runner/inputs/value_lines.h"

namespace {

using veldrane::host::LineSplitter;
using veldrane::host::ValueLine;

std::vector<std::string> Lines(const uint8_t* data, size_t size, size_t step) {
  std::vector<std::string> lines;
  auto on_line = [&](const std::string& text, bool too_long) {
    if (!too_long && text.size() > veldrane::host::kMaxValueLine) std::abort();
    lines.push_back(too_long ? "<too long>" : text);
  };
  LineSplitter splitter;
  for (size_t at = 0; at < size; at += step) {
    size_t n = size - at < step ? size - at : step;
    splitter.Feed(reinterpret_cast<const char*>(data + at), n, on_line);
  }
  splitter.Finish(on_line);
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> lines = Lines(data, size, size == 0 ? 1 : size);
  if (Lines(data, size, 1) != lines) std::abort();
  for (const std::string& text : lines) {
    ValueLine line = veldrane::host::ParseValueLine(text);
    if ((line.kind == ValueLine::kError) == line.error.empty()) std::abort();
    if (line.kind == ValueLine::kValue && line.tag.empty()) std::abort();
  }
  return 0;
}
