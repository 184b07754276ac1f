#include "host/runner/inputs/value_reader.h"

#include <cstdio>
#include <string>

#include "host/runner/inputs/value_lines.h"
#include "host/runner/inputs/value_source.h"
#include "platform/report_limit.h"
#include "platform/text/display_text.h"

namespace veldrane::host {

void ReadValueFile(const std::string& path, const std::atomic<bool>& stop,
                   const std::function<bool(const std::string&, double)>& apply) {
  ReadValueFile(path, stop, [&](const std::string& tag, double value) {
    return apply(tag, value) ? ValueSink::Result::kSet : ValueSink::Result::kUnknownTag;
  });
}

void ReadValueFile(const std::string& path, const std::atomic<bool>& stop,
                   const std::function<ValueSink::Result(const std::string&, double)>& set) {
  long line_number = 0;
  const std::string shown_path = path == "-" ? "standard input" : platform::DisplayInput(path);
  platform::ReportLimit limit;
  auto report_uncounted = [&](bool flush) {
    auto now = platform::ReportLimit::Clock::now();
    if (uint64_t n = limit.TakeUncounted(now, flush)) {
      std::fprintf(stderr, "veldrane-host: %s: %llu more bad lines not shown\n", shown_path.c_str(),
                   static_cast<unsigned long long>(n));
    }
  };
  auto report = [&](const std::string& message) {
    report_uncounted(false);
    if (!limit.Take(platform::ReportLimit::Clock::now())) return;
    std::fprintf(stderr, "veldrane-host: %s line %ld: %s (ignored)\n", shown_path.c_str(),
                 line_number, message.c_str());
  };
  while (!stop.load()) {
    std::string error;
    std::unique_ptr<ValueSource> source = OpenValueSource(path, &error);
    if (!source) {
      report_uncounted(true);
      std::fprintf(stderr, "veldrane-host: cannot open %s: %s\n", shown_path.c_str(),
                   error.c_str());
      return;
    }
    LineSplitter splitter;
    auto on_line = [&](const std::string& text, bool too_long) {
      ++line_number;
      ValueLine line = too_long
                           ? ValueLine{ValueLine::kError, "", 0, "line longer than 4096 characters"}
                           : ParseValueLine(text);
      if (line.kind == ValueLine::kError) {
        report(line.error);
      } else if (line.kind == ValueLine::kValue) {
        ValueSink::Result result = set(line.tag, line.value);
        if (result == ValueSink::Result::kUnknownTag) {
          report("no station shows tag '" + platform::DisplayCp949(line.tag) + "'");
        } else if (result == ValueSink::Result::kNotFinite) {
          report("tag '" + platform::DisplayCp949(line.tag) +
                 "': the value is not a finite number, which no meter can show");
        }
      }
    };
    while (!stop.load()) {
      char buffer[4096];
      size_t n = 0;
      ValueSource::Read r = source->ReadSome(buffer, sizeof buffer, &n);
      report_uncounted(false);
      if (r == ValueSource::Read::kIdle) continue;
      if (r == ValueSource::Read::kEnd) break;
      splitter.Feed(buffer, n, on_line);
    }
    splitter.Finish(on_line);
    // A source that ends for good, or fails, is said once: the meters keep their last values.
    const std::string failure = source->Failure();
    if (!stop.load() && (!source->Reopens() || !failure.empty())) {
      report_uncounted(true);
      const std::string what =
          failure.empty() ? "no more values" : "reading failed (" + failure + ")";
      std::fprintf(stderr, "veldrane-host: %s: %s after %ld lines; the meters keep their values\n",
                   shown_path.c_str(), what.c_str(), line_number);
    }
    if (!source->Reopens() || !failure.empty()) break;
  }
  report_uncounted(true);
}

}  // namespace veldrane::host
