#pragma once
// Square 16-bit images of the spline registration family, their binomial
// pyramid, cubic B-spline interpolation and the small plane types.
#include "../common/mir_visibility.h"

namespace MIR MIR_HIDDEN {
namespace Cubic {

// floor(log2 a) for a >= 1, -1 below.
int FloorLog2(int a);

class Image {
 public:
  Image() = default;
  virtual ~Image();
  Image(const Image&) = delete;
  Image& operator=(const Image&) = delete;

  // Frees what the image owns; pixels wrapped around caller storage stay.
  void Release();
  // Uses the caller's n x n pixels (n = 2^log2Size) without taking them over.
  void Wrap(unsigned short* data, int log2Size);
  // Own n x n pixels, contents unset; null when storage is short.
  unsigned short* Allocate(int log2Size);
  // Own width x height pixels for the size set by SetSize.
  unsigned short* AllocatePixels();
  void SetSize(int w, int h);
  void SetFullSize(int w, int h);
  int GetWidth() const { return width; }
  int GetHeight() const { return height; }
  // background outside the image.
  int GetPixel(int x, int y) const;
  void Clear();
  // Rounded mean of a border band (2 pixels at 256, 5 at 512, 10 at 1024).
  void ComputeBackground();
  // Cubic B-spline coefficients of the pixels and the interpolation weight
  // table; any earlier ones are released first.
  void PrepareSplineCoefficients();
  // Spline value at (x, y) in pixels x 2048; negative values give 0. Prepares
  // the coefficients on first use.
  double InterpolateSpline(int x, int y);

  double* splineWeights = nullptr;
  bool ownsPixels = true;
  int background = 0;
  int fullWidth = 200;
  int fullHeight = 100;
  int width = 0;
  int height = 0;
  int log2Width = 0;
  unsigned short* pixels = nullptr;
  double* splineCoefficients = nullptr;
};

class ImagePyramid {
 public:
  ImagePyramid() = default;
  virtual ~ImagePyramid();
  ImagePyramid(const ImagePyramid&) = delete;
  ImagePyramid& operator=(const ImagePyramid&) = delete;

  // Level 0 is image (not owned); levels 1..levels halve the side each.
  void Build(Image* image, int levels);
  // The same levels with unset pixels.
  void AllocateLevels(Image* image, int levels);
  // Level 0 for an index outside 0..levelCount.
  Image* GetLevelImage(int i) const;
  void ReleaseLevels();

  int levelCount = 0;
  Image** levels = nullptr;
};

class Vector {
 public:
  Vector() = default;
  Vector(double x_, double y_) : x(x_), y(y_) {}
  Vector(const Vector&) = default;
  Vector& operator=(const Vector&) = default;
  virtual ~Vector() = default;
  void Set(double x_, double y_) {
    x = x_;
    y = y_;
  }
  double Length() const;
  Vector operator+(const Vector& v) const { return {x + v.x, y + v.y}; }
  Vector operator-(const Vector& v) const { return {x - v.x, y - v.y}; }
  Vector operator*(double f) const { return {x * f, y * f}; }
  double Dot(const Vector& v) const { return x * v.x + y * v.y; }
  // Angle in -pi..pi turning this onto v; 0 for a zero vector.
  double SignedAngle(const Vector& v) const;

  double x;
  double y;
};

class AffPoint {
 public:
  AffPoint() = default;
  AffPoint(double x_, double y_) : x(x_), y(y_) {}
  AffPoint(const AffPoint&) = default;
  AffPoint& operator=(const AffPoint&) = default;
  virtual ~AffPoint() = default;
  void Set(double x_, double y_) {
    x = x_;
    y = y_;
  }
  void SetMidpoint(const AffPoint& a, const AffPoint& b);
  void SetInterpolated(const AffPoint& a, const AffPoint& b, double t);
  void SetCentroid(int n, const AffPoint* points);
  Vector operator-(const AffPoint& b) const { return {x - b.x, y - b.y}; }
  AffPoint operator+(const Vector& v) const { return {x + v.x, y + v.y}; }
  AffPoint operator-(const Vector& v) const { return {x - v.x, y - v.y}; }

  double x;
  double y;
};

// In place on 3 x 2^L + 1 values whose entries 0, 2^L, 2 x 2^L and 3 x 2^L
// are a cubic Bezier segment's control values: afterwards v[3k] is the curve
// at k / 2^L. Returns 3 x 2^L.
int SubdivideBezier(double* v, int L);
// The same on 3 x 2^L + 1 rows of 16 doubles, every column on its own.
int SubdivideBezierRows(double* v, int L);

}  // namespace Cubic
}  // namespace MIR
