#pragma once
// The benches' clock: one warm-up call, then the median of at least 7 timed
// calls, stopping after about 0.3 s or `maxSamples` calls.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <functional>
#include <vector>

namespace bench {

// Median milliseconds per call.
inline double MedianMs(const std::function<void()>& f, std::size_t maxSamples) {
  f();
  std::vector<double> samples;
  const auto start = std::chrono::steady_clock::now();
  while (samples.size() < 7 ||
         (samples.size() < maxSamples && std::chrono::steady_clock::now() - start < std::chrono::milliseconds(300))) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    samples.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
  }
  std::nth_element(samples.begin(), samples.begin() + samples.size() / 2, samples.end());
  return samples[samples.size() / 2];
}

}  // namespace bench
