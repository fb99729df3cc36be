#include "Registration/bi_tran_pyr.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>

namespace Quorl {
namespace Registration {

namespace {

// The deepest pyramid whose finest grid size still fits in an int.
constexpr int kMaxLevels = 14;

size_t LevelDoubles(int level) {
  const size_t side = (size_t{1} << level) + 1;
  return 2 * side * side;
}

}  // namespace

BiTranPyr::BiTranPyr(int width, int height) : width_(width), height_(height), levelCount_(0), levels_(nullptr) {}

BiTranPyr::~BiTranPyr() {
  Cleanup();
}

BiTranPyr::BiTranPyr(const BiTranPyr& other) : width_(other.width_), height_(other.height_), levelCount_(0),
                                                levels_(nullptr) {
  *this = other;
}

BiTranPyr& BiTranPyr::operator=(const BiTranPyr& other) {
  if (this == &other) return *this;
  width_ = other.width_;
  height_ = other.height_;
  if (!other.levels_) {
    Cleanup();
    levelCount_ = other.levelCount_;
    return *this;
  }
  SetNumLevels(other.levelCount_);
  if (levels_)
    for (int i = 0; i <= levelCount_; ++i)
      std::copy(other.levels_[i], other.levels_[i] + LevelDoubles(levelCount_), levels_[i]);
  return *this;
}

void BiTranPyr::Cleanup() {
  if (levels_) {
    for (int i = 0; i <= levelCount_; ++i) delete[] levels_[i];
    delete[] levels_;
  }
  levels_ = nullptr;
  levelCount_ = 0;
}

void BiTranPyr::SetImageSize(int width, int height) {
  width_ = width;
  height_ = height;
}

int BiTranPyr::GetNumLevels() {
  return levelCount_;
}

bool BiTranPyr::HasLevel(int level) const {
  return levels_ && level >= 0 && level <= levelCount_;
}

double* BiTranPyr::GetControlPoints(int level) {
  return HasLevel(level) ? levels_[level] : nullptr;
}

void BiTranPyr::SetNumLevels(int n) {
  Cleanup();
  if (n < 0 || n > kMaxLevels) return;
  double** table = new (std::nothrow) double*[n + 1]();
  if (!table) return;
  const size_t doubles = LevelDoubles(n);
  for (int i = 0; i <= n; ++i) {
    table[i] = new (std::nothrow) double[doubles]();
    if (!table[i]) {
      for (int k = 0; k < i; ++k) delete[] table[k];
      delete[] table;
      return;
    }
  }
  levels_ = table;
  levelCount_ = n;
}

void BiTranPyr::TransformPoint(double* point, double* result, int level) {
  if (!HasLevel(level) || !point || !result) return;
  const int s = 1 << level;
  const double u = point[0] * s / width_, v = point[1] * s / height_;
  // The far edge (and anything beyond) belongs to the last cell.
  auto cell = [s](double t) {
    const double f = std::floor(t);
    if (!(f >= 0.0)) return 0;
    return f >= s - 1 ? s - 1 : static_cast<int>(f);
  };
  const int column = cell(u), row = cell(v);
  const double fx = u - column, fy = v - row;
  const double* grid = levels_[level];
  const int n = s + 1;
  const double* p00 = grid + 2 * (row * n + column);
  const double* p10 = p00 + 2;
  const double* p01 = p00 + 2 * n;
  const double* p11 = p01 + 2;
  const double w00 = (1 - fx) * (1 - fy), w10 = fx * (1 - fy), w01 = (1 - fx) * fy, w11 = fx * fy;
  result[0] = width_ * (w00 * p00[0] + w10 * p10[0] + w01 * p01[0] + w11 * p11[0]);
  result[1] = height_ * (w00 * p00[1] + w10 * p10[1] + w01 * p01[1] + w11 * p11[1]);
}

void BiTranPyr::GetDisparityMap(float* map, int width, int height, int level, float& minimum, float& maximum) {
  if (!HasLevel(level) || !map) return;
  width_ = width;
  height_ = height;
  minimum = 1e9f;
  maximum = -1e9f;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      double point[2] = {static_cast<double>(x), static_cast<double>(y)}, mapped[2];
      TransformPoint(point, mapped, level);
      const float d = static_cast<float>(x - mapped[0]);
      map[static_cast<size_t>(y) * width + x] = d;
      if (d < minimum) minimum = d;
      if (d > maximum) maximum = d;
    }
}

void BiTranPyr::GetDisparityImage(IplImage* image, int level) {
  if (!image || !image->imageData || image->depth != IPL_DEPTH_8U || !HasLevel(level)) return;
  const int width = image->width, height = image->height;
  if (width <= 0 || height <= 0) return;
  std::unique_ptr<float[]> map(new (std::nothrow) float[static_cast<size_t>(width) * height]);
  if (!map) return;
  float minimum = 0.0f, maximum = 0.0f;
  GetDisparityMap(map.get(), width, height, level, minimum, maximum);
  const float range = maximum - minimum;
  for (int y = 0; y < height; ++y) {
    unsigned char* row = reinterpret_cast<unsigned char*>(image->imageData) + static_cast<size_t>(y) * image->widthStep;
    for (int x = 0; x < width; ++x) {
      const float d = map[static_cast<size_t>(y) * width + x];
      // A flat map (0/0) and a point the grid cannot map render as 0.
      int value = 0;
      if (range > 0.0f && std::isfinite(d)) {
        const float v = std::clamp((d - minimum) / range * 255.0f, 0.0f, 255.0f);
        value = static_cast<int>(v);
      }
      std::fill(row + x * image->nChannels, row + (x + 1) * image->nChannels, static_cast<unsigned char>(value));
    }
  }
}

void BiTranPyr::WarpSourceImage(unsigned char* source, unsigned char* output, int width, int height, int channels,
                                int stride, int level) {
  if (!HasLevel(level) || !source || !output || width < 1 || height < 1 || channels < 1) return;
  width_ = width;
  height_ = height;
  // Positions this close to the last column or row (or the first) sample it:
  // an identity grid lands there up to rounding.
  constexpr double kEdge = 1e-6;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      double point[2] = {static_cast<double>(x), static_cast<double>(y)}, mapped[2];
      TransformPoint(point, mapped, level);
      unsigned char* out = output + static_cast<size_t>(y) * stride + static_cast<size_t>(x) * channels;
      const double sx = mapped[0], sy = mapped[1];
      // Also false for NaN.
      if (!(sx >= -kEdge && sx <= width - 1 + kEdge && sy >= -kEdge && sy <= height - 1 + kEdge)) {
        std::fill(out, out + channels, static_cast<unsigned char>(255));
        continue;
      }
      const double cx = std::clamp(sx, 0.0, width - 1.0), cy = std::clamp(sy, 0.0, height - 1.0);
      const int x0 = std::min(static_cast<int>(cx), std::max(width - 2, 0));
      const int y0 = std::min(static_cast<int>(cy), std::max(height - 2, 0));
      const int x1 = std::min(x0 + 1, width - 1), y1 = std::min(y0 + 1, height - 1);
      const double fx = cx - x0, fy = cy - y0;
      const unsigned char* s00 = source + static_cast<size_t>(y0) * stride + static_cast<size_t>(x0) * channels;
      const unsigned char* s10 = source + static_cast<size_t>(y0) * stride + static_cast<size_t>(x1) * channels;
      const unsigned char* s01 = source + static_cast<size_t>(y1) * stride + static_cast<size_t>(x0) * channels;
      const unsigned char* s11 = source + static_cast<size_t>(y1) * stride + static_cast<size_t>(x1) * channels;
      for (int k = 0; k < channels; ++k) {
        const double v = (1 - fx) * (1 - fy) * s00[k] + fx * (1 - fy) * s10[k] + (1 - fx) * fy * s01[k] +
                         fx * fy * s11[k];
        out[k] = static_cast<unsigned char>(std::clamp(v + 0.5, 0.0, 255.0));
      }
    }
}

}  // namespace Registration
}  // namespace Quorl
