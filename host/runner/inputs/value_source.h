// Where the runner's value lines come from, by OS: standard input, a file, and a channel that
// scripts write to whenever they like (a FIFO on POSIX, value_source_posix.cc; a named pipe
// \\.\pipe\NAME that the runner creates on Windows, value_source_windows.cc).
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace veldrane::host {

class ValueSource {
 public:
  enum class Read { kData, kIdle, kEnd };
  virtual ~ValueSource() = default;
  // Waits a fifth of a second at most for bytes: kData with their count in `n`, kIdle when none
  // came, kEnd when the data (or this writer) has ended.
  virtual Read ReadSome(char* buffer, size_t size, size_t* n) = 0;
  // After kEnd: the source takes the next writer (a FIFO, a named pipe) when opened again.
  virtual bool Reopens() const = 0;
  // After kEnd: why the source failed (the system's words), or empty when its data ended.
  virtual std::string Failure() const { return {}; }
};

// Checks, before the run, that `path` can be read as a source of values: false with the path and
// the reason.
bool CheckValueSource(const std::string& path, std::string* error);
// '-' is standard input. Null with the reason in `error` when it cannot be opened.
std::unique_ptr<ValueSource> OpenValueSource(const std::string& path, std::string* error);

}  // namespace veldrane::host
