#pragma once
// One level of a binomial image pyramid: a 6 x 6 filter of the weights
// (1 5 10 10 5 1) x (1 5 10 10 5 1) / 1024, then every second pixel. Output
// pixel (X, Y) covers source columns 2X - 2 .. 2X + 3 and rows 2Y - 2 .. 2Y + 3.
// Taps past an edge read the edge pixel, so the weights always add up to 1024
// and a uniform image stays uniform up to its border.
#include "mir_visibility.h"

#include <algorithm>
#include <cstdint>

namespace MIR MIR_HIDDEN {
namespace Common {

template <class Pixel>
void BinomialReduce(const Pixel* src, int width, int height, int srcStride, Pixel* dst, int dstStride) {
  static constexpr int kTaps[6] = {1, 5, 10, 10, 5, 1};
  const int outW = width / 2, outH = height / 2;
  for (int Y = 0; Y < outH; ++Y) {
    const Pixel* rows[6];
    for (int b = 0; b < 6; ++b) {
      const int r = std::clamp(2 * Y - 2 + b, 0, height - 1);
      rows[b] = src + static_cast<std::ptrdiff_t>(r) * srcStride;
    }
    for (int X = 0; X < outW; ++X) {
      int cols[6];
      for (int a = 0; a < 6; ++a) cols[a] = std::clamp(2 * X - 2 + a, 0, width - 1);
      std::int64_t sum = 0;
      for (int b = 0; b < 6; ++b) {
        std::int64_t row = 0;
        for (int a = 0; a < 6; ++a) row += kTaps[a] * static_cast<std::int64_t>(rows[b][cols[a]]);
        sum += kTaps[b] * row;
      }
      dst[static_cast<std::ptrdiff_t>(Y) * dstStride + X] = static_cast<Pixel>(sum >> 10);
    }
  }
}

}  // namespace Common
}  // namespace MIR
