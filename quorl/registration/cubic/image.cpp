#include "image.h"

#include "../common/binomial_reduce.h"
#include "../common/signed_angle.h"
#include "spline_weights.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace MIR {
namespace Cubic {

int FloorLog2(int a) {
  int n = -1;
  for (long long v = 1; v <= a; v *= 2) ++n;
  return n;
}

Image::~Image() { Release(); }

void Image::Release() {
  if (ownsPixels) {
    delete[] pixels;
    pixels = nullptr;
  }
  delete[] splineWeights;
  splineWeights = nullptr;
  delete[] splineCoefficients;
  splineCoefficients = nullptr;
}

void Image::Wrap(unsigned short* data, int log2Size) {
  Release();
  ownsPixels = false;
  width = height = fullWidth = fullHeight = 1 << log2Size;
  log2Width = log2Size;
  pixels = data;
  ComputeBackground();
}

unsigned short* Image::Allocate(int log2Size) {
  Release();
  ownsPixels = true;
  width = height = fullWidth = fullHeight = 1 << log2Size;
  log2Width = log2Size;
  pixels = new (std::nothrow) unsigned short[static_cast<size_t>(width) * height];
  return pixels;
}

unsigned short* Image::AllocatePixels() {
  Release();
  ownsPixels = true;
  pixels = new (std::nothrow) unsigned short[static_cast<size_t>(width) * height];
  return pixels;
}

void Image::SetSize(int w, int h) {
  width = w;
  log2Width = FloorLog2(w);
  height = h;
}

void Image::SetFullSize(int w, int h) {
  fullWidth = w;
  fullHeight = h;
}

int Image::GetPixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width || y >= height) return background;
  return pixels[x + (y << log2Width)];
}

void Image::Clear() {
  if (pixels) std::memset(pixels, 0, sizeof(unsigned short) * static_cast<size_t>(width) * height);
}

void Image::ComputeBackground() {
  if (!pixels) return;
  int b = width / 100;
  if (b < 2) b = 5;
  std::int64_t sum = 0, count = 0;
  for (int x = 0; x < width; ++x)
    for (int y = 0; y < height; ++y)
      if (x < b || x > width - b || y < b || y > height - b) {
        sum += pixels[x + (y << log2Width)];
        ++count;
      }
  background = count ? static_cast<int>(std::floor(static_cast<double>(sum) / count + 0.5)) : 0;
}

namespace {

// Index k of a line of n values reflected about both ends (period 2n - 2),
// so that any k lands inside however short the line is.
int Fold(int k, int n) {
  if (n <= 1) return 0;
  k = std::abs(k);
  const int period = 2 * n - 2;
  k %= period;
  return k >= n ? period - k : k;
}

// Cubic B-spline prefilter of one line (stride apart) into out, the same
// stride. in and out may be the same storage.
void PrefilterLine(const double* in, double* out, int n, std::ptrdiff_t stride, std::vector<double>& s,
                   std::vector<double>& line) {
  if (n == 1) {
    out[0] = in[0];
    return;
  }
  const double z = std::sqrt(3.0) - 2.0;
  for (int i = 0; i < n; ++i) line[i] = in[i * stride];
  double zk = 1.0, start = 0.0;
  for (int k = 0; k < 20; ++k) {
    start += zk * line[Fold(k, n)];
    zk *= z;
  }
  s[0] = start;
  for (int i = 1; i < n; ++i) s[i] = line[i] + z * s[i - 1];
  double a = (z / (z * z - 1.0)) * (s[n - 1] + z * s[n - 2]);
  out[(n - 1) * stride] = 6.0 * a;
  for (int i = n - 2; i >= 0; --i) {
    a = z * (a - s[i]);
    out[i * stride] = 6.0 * a;
  }
}

}  // namespace

void Image::PrepareSplineCoefficients() {
  delete[] splineCoefficients;
  splineCoefficients = nullptr;
  delete[] splineWeights;
  splineWeights = nullptr;
  if (!pixels || width < 1 || height < 1) return;
  const size_t count = static_cast<size_t>(width) * height;
  splineCoefficients = new (std::nothrow) double[count];
  splineWeights = NewSplineWeightTable();
  if (!splineCoefficients || !splineWeights) {
    delete[] splineCoefficients;
    splineCoefficients = nullptr;
    delete[] splineWeights;
    splineWeights = nullptr;
    return;
  }
  const int longest = width > height ? width : height;
  std::vector<double> s(longest), line(longest), row(width);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) row[x] = pixels[x + (y << log2Width)];
    PrefilterLine(row.data(), splineCoefficients + static_cast<size_t>(y) * width, width, 1, s, line);
  }
  for (int x = 0; x < width; ++x) PrefilterLine(splineCoefficients + x, splineCoefficients + x, height, width, s, line);
}

double Image::InterpolateSpline(int x, int y) {
  if (!splineCoefficients) PrepareSplineCoefficients();
  if (!splineCoefficients) return 0.0;
  const int ix = x >> 11, iy = y >> 11;
  const double* w = splineWeights + (64 * ((y >> 5) & 63) + ((x >> 5) & 63)) * kWeightsPerEntry;
  double value = 0.0;
  if (iy + 2 < height && ix + 2 < width && y > 2047 && x > 2047) {
    for (int r = 0; r < 4; ++r) {
      const double* c = splineCoefficients + static_cast<size_t>(iy - 1 + r) * width + (ix - 1);
      for (int k = 0; k < 4; ++k) value += c[k] * w[4 * r + k];
    }
  } else {
    for (int r = 0; r < 4; ++r) {
      const int row = Fold(iy - 1 + r, height);
      for (int k = 0; k < 4; ++k)
        value += splineCoefficients[static_cast<size_t>(row) * width + Fold(ix - 1 + k, width)] * w[4 * r + k];
    }
  }
  return value < 0.0 ? 0.0 : value;
}

ImagePyramid::~ImagePyramid() { ReleaseLevels(); }

void ImagePyramid::ReleaseLevels() {
  if (levels)
    for (int i = 1; i <= levelCount; ++i) delete levels[i];
  delete[] levels;
  levels = nullptr;
  levelCount = 0;
}

void ImagePyramid::AllocateLevels(Image* image, int count) {
  ReleaseLevels();
  if (count < 0) count = 0;
  levels = new (std::nothrow) Image*[count + 1]();
  if (!levels) return;
  levelCount = count;
  levels[0] = image;
  for (int i = 1; i <= count; ++i) {
    Image* level = new (std::nothrow) Image;
    if (!level) {
      ReleaseLevels();
      return;
    }
    levels[i] = level;
    level->SetSize(levels[i - 1]->GetWidth() / 2, levels[i - 1]->GetHeight() / 2);
    level->AllocatePixels();
  }
}

void ImagePyramid::Build(Image* image, int count) {
  AllocateLevels(image, count);
  if (!levels) return;
  for (int i = 1; i <= levelCount; ++i) {
    Image* from = levels[i - 1];
    Image* to = levels[i];
    to->SetFullSize(image->fullWidth, image->fullHeight);
    if (!from->pixels || !to->pixels) {
      ReleaseLevels();
      return;
    }
    Common::BinomialReduce(from->pixels, from->GetWidth(), from->GetHeight(), 1 << from->log2Width, to->pixels,
                           1 << to->log2Width);
    to->ComputeBackground();
  }
}

Image* ImagePyramid::GetLevelImage(int i) const {
  if (!levels) return nullptr;
  if (i < 0 || i > levelCount) return levels[0];
  return levels[i];
}

double Vector::Length() const { return Common::PlaneLength(x, y); }

double Vector::SignedAngle(const Vector& v) const { return Common::SignedAngle(x, y, v.x, v.y); }

void AffPoint::SetMidpoint(const AffPoint& a, const AffPoint& b) {
  x = (a.x + b.x) / 2.0;
  y = (a.y + b.y) / 2.0;
}

void AffPoint::SetInterpolated(const AffPoint& a, const AffPoint& b, double t) {
  x = a.x * (1.0 - t) + b.x * t;
  y = a.y * (1.0 - t) + b.y * t;
}

void AffPoint::SetCentroid(int n, const AffPoint* points) {
  double sx = 0.0, sy = 0.0;
  for (int i = 0; i < n; ++i) {
    sx += points[i].x;
    sy += points[i].y;
  }
  x = n > 0 ? sx / n : 0.0;
  y = n > 0 ? sy / n : 0.0;
}

namespace {

template <int Columns>
int Subdivide(double* v, int L) {
  const int N = 3 << L;
  auto at = [v](int i, int c) -> double& { return v[static_cast<size_t>(i) * Columns + c]; };
  for (int h = L > 0 ? 1 << (L - 1) : 0; h >= 1; h /= 2)
    for (int i = 0; i + 6 * h <= N; i += 6 * h)
      for (int c = 0; c < Columns; ++c) {
        const double P0 = at(i, c), P1 = at(i + 2 * h, c), P2 = at(i + 4 * h, c), P3 = at(i + 6 * h, c);
        const double m = (P1 + P2) / 2.0;
        at(i + h, c) = (P0 + P1) / 2.0;
        at(i + 5 * h, c) = (P2 + P3) / 2.0;
        at(i + 2 * h, c) = (m + at(i + h, c)) / 2.0;
        at(i + 4 * h, c) = (at(i + 5 * h, c) + m) / 2.0;
        at(i + 3 * h, c) = (at(i + 2 * h, c) + at(i + 4 * h, c)) / 2.0;
      }
  return N;
}

}  // namespace

int SubdivideBezier(double* v, int L) { return Subdivide<1>(v, L); }
int SubdivideBezierRows(double* v, int L) { return Subdivide<16>(v, L); }

}  // namespace Cubic
}  // namespace MIR
