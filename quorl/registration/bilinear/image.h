#pragma once
// 8-bit grey working images of the bilinear engines and their binomial
// pyramid. Rows are 2^log2Width pixels apart: every image the engines make has
// a power-of-two width (512 and its halvings), where that equals the width.
#include "../common/mir_visibility.h"
#include "build_policy.h"

namespace MIR MIR_HIDDEN {
namespace Bilinear {

// floor(log2(n)) by doubling; -1 for n < 1.
int FloorLog2(int n);

template <class Policy>
class BasicImage {
 public:
  BasicImage() = default;
  virtual ~BasicImage();
  BasicImage(const BasicImage&) = delete;
  BasicImage& operator=(const BasicImage&) = delete;

  void SetSize(int width, int height);
  void SetInputSize(int width, int height) { inputWidth_ = width, inputHeight_ = height; }
  // Replaces the buffer by an uncleared one of width x height bytes; false
  // (and no buffer) when memory is short.
  bool Allocate();
  void FreePixels();
  int GetWidth() const { return width_; }
  int GetHeight() const { return height_; }
  int GetInputWidth() const { return inputWidth_; }
  int GetInputHeight() const { return inputHeight_; }
  int GetLog2Width() const { return log2Width_; }
  int GetStride() const { return log2Width_ < 0 ? 0 : 1 << log2Width_; }
  int GetOutsideValue() const { return outsideValue_; }
  // What reads outside the image answer.
  int GetPixel(int x, int y) const {
    if (x < 0 || x >= width_ || y < 0 || y >= height_) return outsideValue_;
    return pixels_[(y << log2Width_) + x];
  }
  unsigned char* GetBuffer() { return pixels_; }
  const unsigned char* GetBuffer() const { return pixels_; }
  // Borrowing a caller's buffer for one operation: attach, use, detach before
  // the image is destroyed so the caller keeps it.
  void AttachBuffer(unsigned char* pixels) { pixels_ = pixels; }
  void DetachBuffer() { pixels_ = nullptr; }

  // The rounded mean of a border band (5 pixels wide below 200 pixels).
  void ComputeOutsideValue();
  // Fills this (sized, allocated) image from a square input of side
  // 2^log2Size with no gap between rows.
  void ResampleFrom(unsigned log2Size, const unsigned char* input);
  void ClearPixels();
  // Writes the image scaled back to its input size and inverted (255 - v)
  // into a buffer of inputWidth x inputHeight bytes.
  void ExportInverted(unsigned char* output) const;

 private:
  int outsideValue_ = 0;
  int inputWidth_ = 200, inputHeight_ = 100;
  int width_ = 0, height_ = 0;
  int log2Width_ = -1;
  unsigned char* pixels_ = nullptr;
};

template <class Policy>
class BasicImagePyramid {
 public:
  using Image = BasicImage<Policy>;
  BasicImagePyramid() = default;
  virtual ~BasicImagePyramid();
  BasicImagePyramid(const BasicImagePyramid&) = delete;
  BasicImagePyramid& operator=(const BasicImagePyramid&) = delete;

  // Level 0 is the base (not owned); levels 1 .. levels halve it through the
  // binomial filter. False when memory ran short (the pyramid is then empty).
  bool Build(Image* base, int levels);
  // The same level sizes, buffers allocated but not filled.
  bool Allocate(Image* base, int levels);
  // Level k, or the base for k outside 0 .. levels.
  Image* GetImage(int k) const;
  int GetNumLevels() const { return levels_; }

 private:
  bool Make(Image* base, int levels, bool filter);
  void Release();
  int levels_ = 0;
  Image** images_ = nullptr;
};

extern template class BasicImage<PlainBuild>;
extern template class BasicImage<RectifiedBuild>;
extern template class BasicImagePyramid<PlainBuild>;
extern template class BasicImagePyramid<RectifiedBuild>;

}  // namespace Bilinear
}  // namespace MIR
