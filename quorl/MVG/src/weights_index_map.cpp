#include "MVG/weights_index_map.h"

#include <cstdint>
#include <cstring>

namespace {

// Splits a packed byte offset into (row, byte within row) for a row of d bytes
// without a hardware division per pixel: a 32.32 fixed-point reciprocal gives
// the quotient or one more, which one correction step settles. Offsets are
// non-negative ints, so the product stays below 2^64.
class RowSplitter {
 public:
  explicit RowSplitter(std::uint32_t d) : d_(d), m_((std::uint64_t{1} << 32) / d + 1) {}
  void Split(std::uint32_t offset, std::int64_t* row, std::int64_t* column) const {
    std::int64_t q = static_cast<std::int64_t>((offset * m_) >> 32);
    std::int64_t r = static_cast<std::int64_t>(offset) - q * d_;
    if (r < 0) {
      --q;
      r += d_;
    }
    *row = q;
    *column = r;
  }

 private:
  std::int64_t d_;
  std::uint64_t m_;
};

// A 1080p map is 41 MB, streamed once per frame; the hardware prefetcher
// stops at page boundaries, so the stream is requested well ahead (measured:
// about twice as fast at 1920 x 1080). Integer arithmetic, because the
// address may lie past the map's end, where a prefetch is harmless.
inline void PrefetchAhead(const int* map) {
  constexpr std::uintptr_t kAheadBytes = 192 * 5 * sizeof(int);
  __builtin_prefetch(reinterpret_cast<const void*>(reinterpret_cast<std::uintptr_t>(map) + kAheadBytes));
}

template <int C>
inline void Sample(const unsigned char* s, std::ptrdiff_t stride, const int* e, unsigned char* out) {
  const unsigned char* t = s + stride;
  // Weights in locals, channels unrolled: independent sums per channel.
  const int w1 = e[1], w2 = e[2], w3 = e[3], w4 = e[4];
#pragma GCC unroll 3
  for (int c = 0; c < C; ++c)
    out[c] = static_cast<unsigned char>((s[c] * w1 + t[c] * w2 + s[c + C] * w3 + t[c + C] * w4) >> 15);
}

bool Usable(const IplImage* src, const IplImage* dst, const int* map, int channels) {
  if (!src || !dst || !map || src == dst || !src->imageData || !dst->imageData || src->imageData == dst->imageData)
    return false;
  for (const IplImage* image : {src, dst})
    if (image->depth != IPL_DEPTH_8U || image->nChannels != channels || image->width <= 0 || image->height <= 0 ||
        image->widthStep < image->width * channels)
      return false;
  return src->width == dst->width && src->height == dst->height;
}

template <int C>
void Warp(const IplImage* src, IplImage* dst, const int* map) {
  if (!Usable(src, dst, map, C)) return;
  const int W = src->width, H = src->height;
  const std::ptrdiff_t packedRow = static_cast<std::ptrdiff_t>(W) * C;
  const std::ptrdiff_t srcStep = src->widthStep, dstStep = dst->widthStep;
  const auto* in = reinterpret_cast<const unsigned char*>(src->imageData);
  auto* outRows = reinterpret_cast<unsigned char*>(dst->imageData);

  // With one row or column no entry can be inside, and even a zero entry's
  // samples would leave the image.
  if (W < 2 || H < 2) {
    for (int y = 0; y < H; ++y) std::memset(outRows + y * dstStep, 0, packedRow);
    return;
  }

  if (srcStep == packedRow) {
    for (int y = 0; y < H; ++y) {
      unsigned char* out = outRows + y * dstStep;
      for (int x = 0; x < W; ++x, map += 5, out += C) {
        PrefetchAhead(map);
        Sample<C>(in + map[0], packedRow, map, out);
      }
    }
    return;
  }

  const RowSplitter split(static_cast<std::uint32_t>(packedRow));
  for (int y = 0; y < H; ++y) {
    unsigned char* out = outRows + y * dstStep;
    for (int x = 0; x < W; ++x, map += 5, out += C) {
      PrefetchAhead(map);
      std::int64_t row, column;
      split.Split(static_cast<std::uint32_t>(map[0]), &row, &column);
      Sample<C>(in + row * srcStep + column, srcStep, map, out);
    }
  }
}

}  // namespace

namespace IP {

void WarpByWeightsIndex(const IplImage* src, IplImage* dst, const int* map) { Warp<3>(src, dst, map); }

void WarpByWeightsIndexGray(const IplImage* src, IplImage* dst, const int* map) { Warp<1>(src, dst, map); }

}  // namespace IP
