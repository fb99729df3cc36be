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

template <int C>
inline void Sample(const unsigned char* s, std::ptrdiff_t stride, const int* e, unsigned char* out) {
  const unsigned char* t = s + stride;
  for (int c = 0; c < C; ++c)
    out[c] = static_cast<unsigned char>((s[c] * e[1] + t[c] * e[2] + s[c + C] * e[3] + t[c + C] * e[4]) >> 15);
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
      for (int x = 0; x < W; ++x, map += 5, out += C) Sample<C>(in + map[0], packedRow, map, out);
    }
    return;
  }

  const RowSplitter split(static_cast<std::uint32_t>(packedRow));
  for (int y = 0; y < H; ++y) {
    unsigned char* out = outRows + y * dstStep;
    for (int x = 0; x < W; ++x, map += 5, out += C) {
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
