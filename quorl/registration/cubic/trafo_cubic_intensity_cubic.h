#pragma once
// The cubic B-spline deformation sampling the source as its own cubic
// B-spline (the source image's coefficients) with tabulated weights and the
// exact derivative of that interpolant. Pixels whose 4 x 4 support leaves the
// source are left out of every sum.
#include "../common/mir_visibility.h"
#include "trafo_cubic_spline.h"

namespace MIR MIR_HIDDEN {
namespace Cubic {

class TrafoCubicIntensityCubic : public TrafoCubicSpline {
 public:
  explicit TrafoCubicIntensityCubic(int maxLevel);
  ~TrafoCubicIntensityCubic() override;

  // Builds the weight table once.
  void PrepareOptimization() override;
  // Stores both; prepares the source's spline coefficients if it has none.
  void SetImages(Image* source, Image* reference) override;

  // Over the source's coefficients (2^log2Size a side); background unused.
  void ComputeCost(const double* sourceCoefficients, const unsigned short* ref, int background, int log2Size);
  void ComputeCostAndGradient(const double* sourceCoefficients, const unsigned short* ref, int background,
                              int log2Size);
  // Rounded to nearest and clamped to 0..65535; pixels whose support leaves
  // the source keep what out held.
  void RenderWarped(const double* sourceCoefficients, unsigned short* out, int background, int log2Size);

  double* splineWeights = nullptr;

 protected:
  // The costs read the source's coefficients.
  bool HasImageData() const override;
  void ComputeOnImages(bool withGradient) override;

 private:
  void FillSplineWeights();
  void FillSplineDerivativeWeights();
  // The table, built on first use; false when storage is short.
  bool EnsureWeights();
  template <bool Gradient>
  void Measure(const double* sourceCoefficients, const unsigned short* ref, int log2Size);
};

}  // namespace Cubic
}  // namespace MIR
