#pragma once
// A registration result kept on its own: the control grids of every level in
// fractions of the image side ((0, 0) top-left, (1, 1) bottom-right), with
// what applies them to points and images of any size.
#include <opencv2/core/types_c.h>

namespace Quorl {
namespace Registration {

class BiTranPyr {
 public:
  BiTranPyr(int width = 512, int height = 512);
  ~BiTranPyr();
  // Deep copies: each pyramid owns its grids.
  BiTranPyr(const BiTranPyr& other);
  BiTranPyr& operator=(const BiTranPyr& other);

  void SetImageSize(int width, int height);
  // The highest level index n (levels 0 .. n).
  int GetNumLevels();
  // Level i's (2^i + 1)^2 points as (x, y) pairs, row by row, for reading or
  // filling; null for a level that is not held.
  double* GetControlPoints(int level);
  // Replaces all levels by n + 1 grids, each with room for the finest. n
  // outside 0 .. 14 or a lack of memory leaves no levels.
  void SetNumLevels(int n);
  // point (x, y) in pixels of a width x height image through that level's
  // grid, into result in pixels. Nothing for a level that is not held.
  void TransformPoint(double* point, double* result, int level);
  // map[y * width + x] = x - x' for every pixel; the pyramid takes the size.
  void GetDisparityMap(float* map, int width, int height, int level, float& minimum, float& maximum);
  // The disparity map scaled to 0 .. 255 into every channel of an 8-bit
  // image (its own size and widthStep).
  void GetDisparityImage(IplImage* image, int level);
  // output(x, y) = source(x', y') bilinearly, rounded; white where (x', y')
  // is outside the source. Both images: channels bytes a pixel, stride a row.
  void WarpSourceImage(unsigned char* source, unsigned char* output, int width, int height, int channels, int stride,
                       int level);

 private:
  void Cleanup();
  bool HasLevel(int level) const;

  int width_;
  int height_;
  int levelCount_;
  double** levels_;
};

}  // namespace Registration
}  // namespace Quorl
