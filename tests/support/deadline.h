// A bound for a wait in a test, so that a test that cannot go on fails with a message instead of
// hanging.
#pragma once

#include <chrono>

namespace veldrane::test {

class Deadline {
 public:
  explicit Deadline(std::chrono::milliseconds within = std::chrono::seconds(20))
      : end_(std::chrono::steady_clock::now() + within) {}
  bool Passed() const { return std::chrono::steady_clock::now() >= end_; }

 private:
  std::chrono::steady_clock::time_point end_;
};

}  // namespace veldrane::test
