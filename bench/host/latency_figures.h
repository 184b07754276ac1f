// The figures the latency benchmarks report: durations in milliseconds and their percentiles.
#pragma once

#include <algorithm>
#include <chrono>
#include <vector>

namespace veldrane::bench {

inline double Ms(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// The value below which a share `p` (0 to 1) of `v` lies; 0 for none.
inline double Percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[std::min(v.size() - 1, static_cast<size_t>(p * v.size()))];
}

}  // namespace veldrane::bench
