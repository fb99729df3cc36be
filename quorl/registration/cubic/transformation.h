#pragma once
// The geometric models of the spline registration family. A transformation
// maps normalised coordinates (0 and 1 are the edges of a square image, pixel
// column i at i / n) and scores the source sampled through it against the
// reference by normalised cross-correlation (NCC), higher being better.
// Parameter and gradient vectors are 1-based.
#include "../common/mir_visibility.h"
#include "image.h"

namespace MIR MIR_HIDDEN {
namespace Cubic {

// What GetCost reports when no similarity could be formed; the optimiser's
// line search accepts a step at once when it sees its negation.
inline constexpr double kNoSimilarity = -99.0;

class Transformation {
 public:
  explicit Transformation(int maxLevel_) : maxLevel(maxLevel_) {}
  Transformation(const Transformation&) = delete;
  Transformation& operator=(const Transformation&) = delete;
  virtual ~Transformation() = default;

  virtual void ResetLevel() {}
  virtual void IncreaseLevel() {}
  virtual void DecreaseLevel() {}
  virtual int GetLevel() { return 0; }
  virtual void SetLevel(int) {}
  virtual int GetNumParams() { return 0; }
  virtual void RefineGrid() {}
  // Model values in their own units, 0-based.
  virtual void SetNativeParams(const double*) {}
  virtual void InitFrom(Transformation*) {}
  virtual void GetNativeParams(double*) {}
  // Mapped pixel positions over a grid (the models say which).
  virtual void TransformGrid(double*, double*, int) {}
  virtual void TransformPoint(double, double, double*, double*) {}
  virtual void PrepareOptimization() {}
  virtual void SetParams(const double*) {}
  virtual void GetParams(double*) {}
  virtual double GetCost() { return kNoSimilarity; }
  // Gradient of the negated similarity with respect to the parameters.
  virtual void GetGradient(double*) {}
  virtual void SetImages(Image* source_, Image* reference_) {
    source = source_;
    reference = reference_;
  }
  virtual void CostAndGradient(const double*, double*, double*) {}
  virtual void Cost(const double*, double*) {}

  int maxLevel;
  int level = 0;
  double cost = kNoSimilarity;
  Image* source = nullptr;     // sampled through the transformation
  Image* reference = nullptr;  // read at the output grid
};

// Rotation by angle and scaling by scale about the image centre, then a
// translation, all in normalised units. Parameters: p[1] = 2 tx, p[2] = 2 ty,
// p[3] = 20 angle, p[4] = 20 scale - 19 (the identity is 0, 0, 0, 1).
class ScaleableRigidTrafo : public Transformation {
 public:
  ScaleableRigidTrafo() : Transformation(0) {}

  int GetNumParams() override { return 4; }
  // tx, ty, angle, scale.
  void SetNativeParams(const double* v) override;
  void InitFrom(Transformation*) override {}
  void GetNativeParams(double* v) override;
  // (2^L + 1)^2 mapped grid points of the unit square, row by row.
  void TransformGrid(double* xs, double* ys, int L) override;
  void TransformPoint(double x, double y, double* xOut, double* yOut) override;
  void PrepareOptimization() override {}
  void SetParams(const double* p) override;
  void GetParams(double* p) override;
  double GetCost() override { return ncc; }
  void GetGradient(double* g) override;
  void CostAndGradient(const double* p, double* g, double* costOut) override;
  void Cost(const double* p, double* costOut) override;
  // The NCC of the bilinear source samples (each one unit high, as the
  // fixed-point rounding adds it) and the reference; 0 without variance.
  virtual void ComputeCost(const unsigned short* src, const unsigned short* ref, int background, int log2Size);
  void ComputeCostAndGradient(const unsigned short* src, const unsigned short* ref, int background, int log2Size);
  // The warped source, rounded to nearest; background outside.
  void RenderWarp(const unsigned short* src, unsigned short* out, int background, int log2Size);

  double centreX = 0.5, centreY = 0.5;
  double scale = 1.0;
  double angle = 0.0;
  double tx = 0.0, ty = 0.0;
  double ncc = kNoSimilarity;
  // Sums of derivative x source sample, derivative x reference pixel and of
  // the derivatives, each for x, y, angle and scale.
  double sumDS[4] = {}, sumDR[4] = {}, sumD[4] = {};
  double gradient[4] = {};  // d ncc / d (tx, ty, angle, scale)
};

}  // namespace Cubic
}  // namespace MIR
