#include "image.h"

#include "../common/binomial_reduce.h"

#include <cassert>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

namespace MIR {
namespace Bilinear {

int FloorLog2(int n) {
  int count = 0;
  for (long long c = 1; n >= c; c *= 2) ++count;
  return count - 1;
}

template <class Policy>
BasicImage<Policy>::~BasicImage() {
  std::free(pixels_);
}

template <class Policy>
void BasicImage<Policy>::SetSize(int width, int height) {
  width_ = width;
  height_ = height;
  log2Width_ = FloorLog2(width);
}

template <class Policy>
bool BasicImage<Policy>::Allocate() {
  FreePixels();
  if (width_ <= 0 || height_ <= 0) return false;
  pixels_ = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(GetStride()) * (height_ - 1) + width_));
  return pixels_ != nullptr;
}

template <class Policy>
void BasicImage<Policy>::FreePixels() {
  std::free(pixels_);
  pixels_ = nullptr;
}

template <class Policy>
void BasicImage<Policy>::ComputeOutsideValue() {
  int band = width_ / 100;
  if (band < 2) band = 5;
  long long sum = 0, count = 0;
  for (int y = 0; y < height_; ++y)
    for (int x = 0; x < width_; ++x)
      if (x < band || x > width_ - band || y < band || y > height_ - band) {
        sum += pixels_[(y << log2Width_) + x];
        ++count;
      }
  outsideValue_ = count ? static_cast<int>(std::floor(static_cast<double>(sum) / count + 0.5)) : 0;
}

template <class Policy>
void BasicImage<Policy>::ResampleFrom(unsigned log2Size, const unsigned char* input) {
  const long long D = 1LL << log2Size;
  inputWidth_ = inputHeight_ = static_cast<int>(D);
  const double stepX = static_cast<double>(D) / width_, stepY = static_cast<double>(D) / height_;
  // Beyond this index the last input rows are copied, not interpolated.
  const long long lastBlended = (D - 2) * (D - 1) - 1;
  double x = 0.0;
  for (int i = 0; i < width_; ++i, x += stepX) {
    const long long x0 = static_cast<long long>(std::floor(x));
    const double fx = x - x0;
    // The right neighbour of the last column is the column itself, not the
    // first byte of the next row.
    const long long right = x0 + 1 <= D - 1 ? 1 : 0;
    double y = 0.0;
    for (int j = 0; j < height_; ++j, y += stepY) {
      const long long y0 = static_cast<long long>(std::floor(y));
      const double fy = y - y0;
      const long long p = x0 + D * y0;
      double v = input[p];
      if (p < lastBlended) {
        const double top = v + fx * (input[p + right] - v);
        const double bottom = input[p + D] + fx * (input[p + D + right] - input[p + D]);
        v = top + fy * (bottom - top);
      }
      pixels_[(j << log2Width_) + i] = static_cast<unsigned char>(std::floor(v));
    }
  }
  ComputeOutsideValue();
}

template <class Policy>
void BasicImage<Policy>::ClearPixels() {
  for (int y = 0; y < height_; ++y) std::memset(pixels_ + (y << log2Width_), 0, width_);
}

template <class Policy>
void BasicImage<Policy>::ExportInverted(unsigned char* output) const {
  // The stride rule overlaps rows of other widths: no image of ours has one.
  assert(width_ == GetStride());
  const double stepX = static_cast<double>(width_) / inputWidth_;
  const double stepY = static_cast<double>(height_) / inputHeight_;
  double x = 0.0;
  for (int i = 0; i < inputWidth_; ++i, x += stepX) {
    const int x0 = static_cast<int>(std::floor(x));
    const double fx = x - x0;
    double y = 0.0;
    for (int j = 0; j < inputHeight_; ++j, y += stepY) {
      const int y0 = static_cast<int>(std::floor(y));
      const double fy = y - y0;
      const int a = GetPixel(x0, y0), b = GetPixel(x0 + 1, y0);
      const int c = GetPixel(x0, y0 + 1), d = GetPixel(x0 + 1, y0 + 1);
      const double top = a + fx * (b - a), bottom = c + fx * (d - c);
      const double v = top + fy * (bottom - top);
      output[i + static_cast<size_t>(j) * inputWidth_] = static_cast<unsigned char>(255 - static_cast<int>(std::floor(v)));
    }
  }
}

template <class Policy>
BasicImagePyramid<Policy>::~BasicImagePyramid() {
  Release();
}

template <class Policy>
void BasicImagePyramid<Policy>::Release() {
  if (images_)
    for (int k = 1; k <= levels_; ++k) delete images_[k];
  delete[] images_;
  images_ = nullptr;
  levels_ = 0;
}

template <class Policy>
bool BasicImagePyramid<Policy>::Make(Image* base, int levels, bool filter) {
  Release();
  if (levels < 1) levels = 0;
  images_ = new (std::nothrow) Image*[levels + 1]();
  if (!images_) return false;
  images_[0] = base;
  for (int k = 1; k <= levels; ++k) {
    const Image* from = images_[k - 1];
    Image* level = new (std::nothrow) Image;
    if (!level) break;
    images_[k] = level;
    levels_ = k;
    level->SetSize(from->GetWidth() / 2, from->GetHeight() / 2);
    level->SetInputSize(base->GetInputWidth(), base->GetInputHeight());
    if (!level->Allocate()) break;
    if (filter) {
      Common::BinomialReduce(from->GetBuffer(), from->GetWidth(), from->GetHeight(), from->GetStride(),
                             level->GetBuffer(), level->GetStride());
      level->ComputeOutsideValue();
    } else {
      level->ClearPixels();
    }
  }
  if (levels_ == levels && (levels == 0 || images_[levels]->GetBuffer())) return true;
  Release();
  return false;
}

template <class Policy>
bool BasicImagePyramid<Policy>::Build(Image* base, int levels) {
  return Make(base, levels, true);
}

template <class Policy>
bool BasicImagePyramid<Policy>::Allocate(Image* base, int levels) {
  return Make(base, levels, false);
}

template <class Policy>
typename BasicImagePyramid<Policy>::Image* BasicImagePyramid<Policy>::GetImage(int k) const {
  if (!images_) return nullptr;
  return k < 0 || k > levels_ ? images_[0] : images_[k];
}

template class BasicImage<PlainBuild>;
template class BasicImage<RectifiedBuild>;
template class BasicImagePyramid<PlainBuild>;
template class BasicImagePyramid<RectifiedBuild>;

}  // namespace Bilinear
}  // namespace MIR
