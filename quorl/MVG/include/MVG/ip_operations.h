#pragma once
// Small operations on 8-bit IplImage images and interleaved float arrays.
//
// Every image is stepped by its own widthStep (cvCreateImage pads rows to 4
// bytes, so a 5-pixel one-channel row is 8 bytes long). Each function checks
// its images once: non-null, 8-bit, the channel count it needs, and equal
// width, height and channels where images go together. On a mismatch nothing
// is written; the patch measures then give NaN and ReflectImage -1.
#include <memory>

#include <opencv2/core/types_c.h>

namespace IP {

// Three channels. A pixel whose mean absolute channel difference
// (|f0 - b0| + |f1 - b1| + |f2 - b2|) / 3 exceeds threshold keeps the frame
// pixel in out; every other pixel becomes black.
void SubtractBackground(IplImage* frame, IplImage* background, IplImage* out, float threshold);

// Cleans the three-channel foreground image `mask` in place, at the size of
// `sizeSource` (callers pass the frame itself as both). A pixel whose two
// horizontal neighbours are both set becomes white, both clear becomes
// black; then the same with the vertical neighbours. Neighbours are judged
// on their first byte, and updates are seen by the pixels tested after them.
// The second and fourth arguments are not used.
void PostFilterForeground(IplImage* sizeSource, IplImage* ignored, IplImage* mask, float ignoredThreshold);

// Per channel (|s(x-1, y) - s(x+1, y)| + |s(x, y-1) - s(x, y+1)|) / 2 inside,
// the source values on the one-pixel border. src and dst may be one image.
void ColorGradient(IplImage* src, IplImage* dst);

// Separable 3 x 3 correlation of an interleaved float image of rows x width
// pixels: ky across rows into tmp (which must be as large as src), then kx
// along each row into dst, so dst(y, x) = sum kx[i] ky[j] src(y + j, x + i).
// Only the valid part is written, packed: (rows - 2) x (width - 2) x channels
// floats. The kernel (-1, 0, 1) gives the next-but-one pixel minus the pixel.
// rows or width below 3 write nothing.
void SeparableConvolution3x3(float* src, float* dst, float* tmp, int rows, int width, int channels, const float* kx,
                             const float* ky);
void SeparableConvolution3x3_c1(float* src, float* dst, float* tmp, int rows, int width, const float* kx,
                                const float* ky);

// Gaussian pyramid: level 0 a copy of the source, each next level half the
// width and height (rounded down) of the one before. Copies share the levels,
// which are released with their last holder. A level that does not exist
// gives null and 0.
class CImagePyramid {
 public:
  CImagePyramid();
  CImagePyramid(IplImage* image, int levels);

  // Drops this object's share of its old levels first. levels < 1 or a null
  // image gives an empty pyramid.
  void Initialize(IplImage* image, int levels);
  unsigned char* Data(int level) const;
  int Width(int level) const;
  int Height(int level) const;
  // The number of levels held (0 when empty).
  int Levels() const;

 private:
  struct LevelSet;
  const IplImage* Level(int level) const;

  std::shared_ptr<LevelSet> levels_;
};

// Sum of squared byte differences of two images of equal size and channels.
float Patch_SSD(IplImage* a, IplImage* b);
// Zero-mean normalised cross-correlation of two images of equal size, per
// channel (one to three), averaged over the channels. A uniform patch
// divides by zero (NaN or infinite).
float Patch_ZNCC(IplImage* a, IplImage* b);
// The same measure over the (2r + 1)^2 windows centred on p in a and on q in
// b. A window not wholly inside its image gives NaN and reads nothing.
float ZNCC(CvPoint p, CvPoint q, IplImage* a, IplImage* b, int r);

// Left-right mirror into dst (src itself works: the pixel pairs are swapped).
// Returns 0, or -1 when the images do not match; the ints are not used.
int ReflectImage(IplImage* src, IplImage* dst, int, int);

}  // namespace IP
