#include "MVG/ip_operations.h"

#include <opencv2/core/core_c.h>
#include <opencv2/imgproc/imgproc_c.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <utility>
#include <vector>

namespace IP {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

bool Is8Bit(const IplImage* im) { return im && im->depth == IPL_DEPTH_8U && im->imageData && im->nChannels > 0; }

// channels 0: any count.
bool Usable(const IplImage* im, int channels) { return Is8Bit(im) && (channels == 0 || im->nChannels == channels); }

bool SameShape(const IplImage* a, const IplImage* b) {
  return a->width == b->width && a->height == b->height && a->nChannels == b->nChannels;
}

unsigned char* Row(IplImage* im, int y) {
  return reinterpret_cast<unsigned char*>(im->imageData) + static_cast<ptrdiff_t>(y) * im->widthStep;
}

// Per-channel sums of a zero-mean normalised cross-correlation, in single
// precision as the measure is defined. A window is rows of `width` pixels
// starting at `a`/`b`, the next row `stepA`/`stepB` bytes on.
float ZeroMeanNcc(const unsigned char* a, int stepA, const unsigned char* b, int stepB, int width, int height,
                  int channels) {
  if (channels < 1 || channels > 3) return kNaN;
  float sumA[3] = {0, 0, 0}, sumB[3] = {0, 0, 0};
  for (int y = 0; y < height; ++y) {
    const unsigned char* ra = a + static_cast<ptrdiff_t>(y) * stepA;
    const unsigned char* rb = b + static_cast<ptrdiff_t>(y) * stepB;
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < channels; ++c) {
        sumA[c] += ra[x * channels + c];
        sumB[c] += rb[x * channels + c];
      }
  }
  const float inv = 1.0f / static_cast<float>(width * height);
  float ma[3], mb[3], saa[3] = {0, 0, 0}, sbb[3] = {0, 0, 0}, sab[3] = {0, 0, 0};
  for (int c = 0; c < channels; ++c) {
    ma[c] = sumA[c] * inv;
    mb[c] = sumB[c] * inv;
  }
  for (int y = 0; y < height; ++y) {
    const unsigned char* ra = a + static_cast<ptrdiff_t>(y) * stepA;
    const unsigned char* rb = b + static_cast<ptrdiff_t>(y) * stepB;
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < channels; ++c) {
        const float da = ra[x * channels + c] - ma[c];
        const float db = rb[x * channels + c] - mb[c];
        saa[c] += da * da;
        sbb[c] += db * db;
        sab[c] += da * db;
      }
  }
  float sum = 0.0f;
  for (int c = 0; c < channels; ++c) sum += sab[c] / (std::sqrt(sbb[c]) * std::sqrt(saa[c]));
  return sum / static_cast<float>(channels);
}

}  // namespace

void SubtractBackground(IplImage* frame, IplImage* background, IplImage* out, float threshold) {
  if (!Usable(frame, 3) || !Usable(background, 3) || !Usable(out, 3)) return;
  if (!SameShape(frame, background) || !SameShape(frame, out)) return;
  for (int y = 0; y < frame->height; ++y) {
    const unsigned char* f = Row(frame, y);
    const unsigned char* b = Row(background, y);
    unsigned char* o = Row(out, y);
    for (int x = 0; x < frame->width * 3; x += 3) {
      const int sum = std::abs(f[x] - b[x]) + std::abs(f[x + 1] - b[x + 1]) + std::abs(f[x + 2] - b[x + 2]);
      // The single-precision product, not sum / 3: a threshold of exactly
      // the mean must compare as the stored measure does.
      const float d = static_cast<float>(sum) * 0.33333334f;
      const bool keep = d > threshold;
      o[x] = keep ? f[x] : 0;
      o[x + 1] = keep ? f[x + 1] : 0;
      o[x + 2] = keep ? f[x + 2] : 0;
    }
  }
}

void PostFilterForeground(IplImage* sizeSource, IplImage*, IplImage* mask, float) {
  if (!sizeSource || !Usable(mask, 3)) return;
  if (sizeSource->width != mask->width || sizeSource->height != mask->height) return;
  const int w = mask->width, h = mask->height;
  auto set = [](unsigned char* p, unsigned char v) { p[0] = p[1] = p[2] = v; };
  for (int y = 0; y < h; ++y) {
    unsigned char* r = Row(mask, y);
    for (int x = 1; x + 1 < w; ++x) {
      const bool left = r[(x - 1) * 3] != 0, right = r[(x + 1) * 3] != 0;
      if (left && right) set(r + x * 3, 255);
      else if (!left && !right) set(r + x * 3, 0);
    }
  }
  for (int y = 1; y + 1 < h; ++y) {
    const unsigned char* up = Row(mask, y - 1);
    unsigned char* r = Row(mask, y);
    const unsigned char* down = Row(mask, y + 1);
    for (int x = 0; x < w; ++x) {
      const bool u = up[x * 3] != 0, d = down[x * 3] != 0;
      if (u && d) set(r + x * 3, 255);
      else if (!u && !d) set(r + x * 3, 0);
    }
  }
}

void ColorGradient(IplImage* src, IplImage* dst) {
  if (!Usable(src, 0) || !Usable(dst, 0) || !SameShape(src, dst)) return;
  const int w = src->width, h = src->height, ch = src->nChannels;
  const size_t rowBytes = static_cast<size_t>(w) * ch;
  // Built apart from both images, so src and dst may be one image.
  std::vector<unsigned char> out(rowBytes * h);
  for (int y = 0; y < h; ++y) {
    const unsigned char* s = Row(src, y);
    unsigned char* o = out.data() + rowBytes * y;
    if (y == 0 || y == h - 1) {
      std::copy(s, s + rowBytes, o);
      continue;
    }
    const unsigned char* up = Row(src, y - 1);
    const unsigned char* down = Row(src, y + 1);
    std::copy(s, s + ch, o);
    for (size_t i = ch; i + ch < rowBytes; ++i)
      o[i] = static_cast<unsigned char>((std::abs(s[i - ch] - s[i + ch]) + std::abs(up[i] - down[i])) / 2);
    if (w > 1) std::copy(s + rowBytes - ch, s + rowBytes, o + rowBytes - ch);
  }
  for (int y = 0; y < h; ++y) std::copy_n(out.data() + rowBytes * y, rowBytes, Row(dst, y));
}

namespace {

// One vertical then one horizontal pass per output row; the loops are plain
// so the compiler unrolls and vectorises them, tail included.
void Convolve3x3(const float* src, float* dst, float* tmp, int rows, int width, int channels, const float* kx,
                 const float* ky) {
  if (rows < 3 || width < 3 || channels < 1 || !src || !dst || !tmp || !kx || !ky) return;
  const ptrdiff_t row = static_cast<ptrdiff_t>(width) * channels;
  const ptrdiff_t outRow = static_cast<ptrdiff_t>(width - 2) * channels;
  const float y0 = ky[0], y1 = ky[1], y2 = ky[2];
  const float x0 = kx[0], x1 = kx[1], x2 = kx[2];
  for (int y = 0; y + 2 < rows; ++y) {
    const float* __restrict s0 = src + y * row;
    const float* __restrict s1 = s0 + row;
    const float* __restrict s2 = s1 + row;
    float* __restrict t = tmp + y * row;
    for (ptrdiff_t i = 0; i < row; ++i) t[i] = y0 * s0[i] + y1 * s1[i] + y2 * s2[i];
    float* __restrict d = dst + y * outRow;
    const float* __restrict ta = t;
    const float* __restrict tb = t + channels;
    const float* __restrict tc = t + 2 * channels;
    for (ptrdiff_t i = 0; i < outRow; ++i) d[i] = x0 * ta[i] + x1 * tb[i] + x2 * tc[i];
  }
}

}  // namespace

void SeparableConvolution3x3(float* src, float* dst, float* tmp, int rows, int width, int channels, const float* kx,
                             const float* ky) {
  Convolve3x3(src, dst, tmp, rows, width, channels, kx, ky);
}

void SeparableConvolution3x3_c1(float* src, float* dst, float* tmp, int rows, int width, const float* kx,
                                const float* ky) {
  Convolve3x3(src, dst, tmp, rows, width, 1, kx, ky);
}

// The level images, released with the last pyramid that holds them.
struct CImagePyramid::LevelSet {
  std::vector<IplImage*> images;
  LevelSet() = default;
  LevelSet(const LevelSet&) = delete;
  LevelSet& operator=(const LevelSet&) = delete;
  ~LevelSet() {
    for (IplImage*& im : images) cvReleaseImage(&im);
  }
};

CImagePyramid::CImagePyramid() = default;

CImagePyramid::CImagePyramid(IplImage* image, int levels) : CImagePyramid() { Initialize(image, levels); }

void CImagePyramid::Initialize(IplImage* image, int levels) {
  levels_.reset();
  if (levels < 1 || !image || !image->imageData) return;
  auto set = std::make_shared<LevelSet>();
  set->images.reserve(static_cast<size_t>(levels));
  set->images.push_back(cvCloneImage(image));
  for (int i = 1; i < levels; ++i) {
    const IplImage* prev = set->images.back();
    IplImage* next = cvCreateImage(cvSize(prev->width >> 1, prev->height >> 1), prev->depth, prev->nChannels);
    set->images.push_back(next);
    // A 1-pixel level halves to 0 x 0; there is nothing to filter into.
    if (next->width > 0 && next->height > 0) cvPyrDown(prev, next, CV_GAUSSIAN_5x5);
  }
  levels_ = std::move(set);
}

const IplImage* CImagePyramid::Level(int level) const {
  if (!levels_ || level < 0 || level >= static_cast<int>(levels_->images.size())) return nullptr;
  return levels_->images[static_cast<size_t>(level)];
}

unsigned char* CImagePyramid::Data(int level) const {
  const IplImage* im = Level(level);
  return im ? reinterpret_cast<unsigned char*>(im->imageData) : nullptr;
}

int CImagePyramid::Width(int level) const {
  const IplImage* im = Level(level);
  return im ? im->width : 0;
}

int CImagePyramid::Height(int level) const {
  const IplImage* im = Level(level);
  return im ? im->height : 0;
}

int CImagePyramid::Levels() const { return levels_ ? static_cast<int>(levels_->images.size()) : 0; }

float Patch_SSD(IplImage* a, IplImage* b) {
  if (!Usable(a, 0) || !Usable(b, 0) || !SameShape(a, b)) return kNaN;
  const int n = a->width * a->nChannels;
  float sum = 0.0f;
  for (int y = 0; y < a->height; ++y) {
    const unsigned char* ra = Row(a, y);
    const unsigned char* rb = Row(b, y);
    for (int i = 0; i < n; ++i) {
      const float d = static_cast<float>(ra[i] - rb[i]);
      sum += d * d;
    }
  }
  return sum;
}

float Patch_ZNCC(IplImage* a, IplImage* b) {
  if (!Usable(a, 0) || !Usable(b, 0) || !SameShape(a, b)) return kNaN;
  if (a->width < 1 || a->height < 1) return kNaN;
  return ZeroMeanNcc(Row(a, 0), a->widthStep, Row(b, 0), b->widthStep, a->width, a->height, a->nChannels);
}

float ZNCC(CvPoint p, CvPoint q, IplImage* a, IplImage* b, int r) {
  if (!Usable(a, 0) || !Usable(b, 0) || a->nChannels != b->nChannels || r < 0) return kNaN;
  auto inside = [r](CvPoint c, const IplImage* im) {
    return c.x - r >= 0 && c.y - r >= 0 && c.x + r < im->width && c.y + r < im->height;
  };
  if (!inside(p, a) || !inside(q, b)) return kNaN;
  const int ch = a->nChannels, size = 2 * r + 1;
  return ZeroMeanNcc(Row(a, p.y - r) + (p.x - r) * ch, a->widthStep, Row(b, q.y - r) + (q.x - r) * ch, b->widthStep,
                     size, size, ch);
}

int ReflectImage(IplImage* src, IplImage* dst, int, int) {
  if (!Usable(src, 0) || !Usable(dst, 0) || !SameShape(src, dst)) return -1;
  const int w = src->width, ch = src->nChannels;
  for (int y = 0; y < src->height; ++y) {
    if (src == dst) {
      unsigned char* r = Row(dst, y);
      for (int x = 0; x < w / 2; ++x) std::swap_ranges(r + x * ch, r + (x + 1) * ch, r + (w - 1 - x) * ch);
      continue;
    }
    const unsigned char* s = Row(src, y);
    unsigned char* d = Row(dst, y);
    for (int x = 0; x < w; ++x) std::copy_n(s + x * ch, ch, d + (w - 1 - x) * ch);
  }
  return 0;
}

}  // namespace IP
