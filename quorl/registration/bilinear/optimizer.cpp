#include "optimizer.h"

#include <memory>
#include <new>

namespace MIR {
namespace Bilinear {

// The optimiser seen by the shared minimiser: its evaluations, the stop flag,
// and hooks that stay silent in this family.
template <class Policy>
struct BasicOptimizer<Policy>::Problem {
  BasicOptimizer& o;
  double Evaluate(double* p) {
#ifdef QUORL_MIR_COUNTERS
    ++o.record_.evaluations;
#endif
    return o.Evaluate(p);
  }
  double EvaluateWithGradient(double* p, double* g) {
#ifdef QUORL_MIR_COUNTERS
    ++o.record_.evaluations;
#endif
    return o.EvaluateWithGradient(p, g);
  }
  bool StopRequested() const { return o.stopFlag_ != 0; }
  void OnNonDescent(int) {}
  void OnIterationCap() {
#ifdef QUORL_MIR_COUNTERS
    o.record_.hitIterationCap = true;
#endif
  }
  void OnTrial(double, double) {}
};

template <class Policy>
void BasicOptimizer<Policy>::Minimize(Transformation* transformation, Image* target, Image* source) {
  transformation_ = transformation;
  target_ = target;
  source_ = source;
  const int n = transformation->GetNumParams();
  std::unique_ptr<double[]> p(new (std::nothrow) double[n + 1]());
  if (!p) return;
  transformation->GetParams(p.get());
  int iterations = 0;
  double value = 0.0;
  record_ = MinimizeRecord{};
  record_.parameters = n;
  QuasiNewtonMinimize(p.get(), n, 1e-5, &iterations, &value);
  record_.iterations = iterations;
  transformation->SetParams(p.get());
}

template <class Policy>
double BasicOptimizer<Policy>::Evaluate(double* p) {
  transformation_->SetParams(p);
  transformation_->Cost(target_, source_);
  return -transformation_->GetCost();
}

template <class Policy>
double BasicOptimizer<Policy>::EvaluateWithGradient(double* p, double* g) {
  transformation_->SetParams(p);
  transformation_->CostAndGradient(target_, source_);
  transformation_->GetGradient(g);
  return -transformation_->GetCost();
}

// The slopes that the search follows are per grid unit, and one grid unit is
// W / 1024 pixels of a W-pixel image. The gradient bound of 0.001 belongs
// with slopes scaled by 1024 / W instead, (1024 / W)^2 times larger, so
// against the slopes in use it reads 0.001 (W / 1024)^2. Taken as it stands
// it would end the finer levels after an iteration or two: on the 256-pixel
// images of the finest grid it is 16 times too lenient. The step bound is in
// parameter units, which neither scale touches.
template <class Policy>
double BasicOptimizer<Policy>::GradientTolerance() const {
  constexpr double kTolerance = 1e-3;
  if (!source_ || source_->GetWidth() < 1) return kTolerance;
  const double ratio = source_->GetWidth() / 1024.0;
  return kTolerance * ratio * ratio;
}

template <class Policy>
bool BasicOptimizer<Policy>::QuasiNewtonMinimize(double* p, int n, double tolerance, int* iterations,
                                                 double* finalValue) {
  stopFlag_ = 0;
  Problem problem{*this};
  Common::QuasiNewtonSettings settings;
  settings.stepTolerance = tolerance;
  settings.gradientTolerance = GradientTolerance();
  return Common::QuasiNewtonMinimize(problem, p, n, settings, iterations, finalValue);
}

template <class Policy>
void BasicOptimizer<Policy>::LineSearch(int n, double* xold, double fold, double* g, double* dir, double* x, double* f,
                                       double stpmax, int* check, double tolx) {
  Problem problem{*this};
  Common::LineSearch(problem, n, xold, fold, g, dir, x, f, stpmax, check, tolx);
}

template class BasicOptimizer<PlainBuild>;
template class BasicOptimizer<RectifiedBuild>;

}  // namespace Bilinear
}  // namespace MIR
