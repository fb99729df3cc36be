#pragma once
// Fits a transformation's parameters by BFGS on minus its cost.
#include "../common/mir_visibility.h"
#include "../common/quasi_newton.h"
#include "transformation.h"

namespace MIR MIR_HIDDEN {
namespace Bilinear {

// What one Minimize did, kept when QUORL_MIR_COUNTERS is defined.
struct MinimizeRecord {
  int parameters = 0;
  int iterations = 0;
  int evaluations = 0;          // Evaluate and EvaluateWithGradient calls
  bool hitIterationCap = false;
};

template <class Policy>
class BasicOptimizer {
 public:
  using Transformation = BasicTransformation<Policy>;
  using Image = BasicImage<Policy>;

  BasicOptimizer() = default;
  virtual ~BasicOptimizer() = default;
  BasicOptimizer(const BasicOptimizer&) = delete;
  BasicOptimizer& operator=(const BasicOptimizer&) = delete;

  // Fits transformation's parameters so that source, sampled through it,
  // correlates best with target; leaves the final parameters set.
  virtual void Minimize(Transformation* transformation, Image* target, Image* source);
  // SetParams, Cost, minus the cost.
  virtual double Evaluate(double* p);
  // SetParams, CostAndGradient, GetGradient into g; minus the cost.
  virtual double EvaluateWithGradient(double* p, double* g);

  // 1-based p of n values; false (p unchanged) when storage is short or the
  // start value is not finite. tolerance bounds the step; the gradient bound
  // follows the source image's width (GradientTolerance).
  bool QuasiNewtonMinimize(double* p, int n, double tolerance, int* iterations, double* finalValue);
  // What every gradient component must fall below to end a minimisation on
  // the current source: 0.001 (W / 1024)^2, or 0.001 without a source.
  double GradientTolerance() const;
  void LineSearch(int n, double* xold, double fold, double* g, double* dir, double* x, double* f, double stpmax,
                  int* check, double tolx);

  // Ends a running minimisation after its current line search; cleared when
  // a minimisation starts.
  void SetStopFlag(int stop) { stopFlag_ = stop; }
  int GetStopFlag() const { return stopFlag_; }
  const MinimizeRecord& GetLastRecord() const { return record_; }

 private:
  struct Problem;
  int stopFlag_ = 0;
  Transformation* transformation_ = nullptr;
  Image* target_ = nullptr;
  Image* source_ = nullptr;
  MinimizeRecord record_;
};

extern template class BasicOptimizer<PlainBuild>;
extern template class BasicOptimizer<RectifiedBuild>;

}  // namespace Bilinear
}  // namespace MIR
