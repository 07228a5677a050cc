// Timing helpers shared by the benchmarks: the median of repeated runs.
#pragma once

#include <algorithm>
#include <chrono>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

inline double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// The median wall time, in seconds, of repetitions runs.
template <typename Run>
double MedianSeconds(int repetitions, Run run) {
  std::vector<double> seconds;
  for (int i = 0; i < repetitions; ++i) {
    auto start = Clock::now();
    run();
    seconds.push_back(std::chrono::duration<double>(Clock::now() - start).count());
  }
  return Median(seconds);
}

}  // namespace bench
