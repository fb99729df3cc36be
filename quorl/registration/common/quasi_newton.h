#pragma once
// BFGS variable-metric minimiser with a backtracking line search (quadratic,
// then cubic interpolation), shared by the registration optimisers. Vectors
// are 1-based: a vector of n values occupies n + 1 doubles, element 0 unused.
//
// The problem type supplies
//   double Evaluate(double* p)                   value at p
//   double EvaluateWithGradient(double* p, double* g)
//   bool   StopRequested() const                 checked after each line search
//   void   OnNonDescent(int iteration)           direction was not downhill
//   void   OnIterationCap()                      iteration limit reached
//   void   OnTrial(double alam, double f)        every line-search trial
// The hooks let one family stay silent where another reports.
#include "mir_visibility.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>

namespace MIR MIR_HIDDEN {
namespace Common {

struct QuasiNewtonSettings {
  double stepTolerance = 1e-5;     // absolute, on every parameter change
  double gradientTolerance = 1e-3; // absolute, on every gradient component
  int maxIterations = 200;
  double maxStep = 1.0;            // in parameter units, whatever n is
};

// A minimisation returns when the bilinear costs report this "no similarity"
// value; they never produce it, the cubic ones do.
inline constexpr double kNoSimilarity = 99.0;

// The NR line search. dir is scaled in place; f receives the accepted value.
// check is 1 when the step shrank below the tolerance and x fell back to xold.
template <class Problem>
void LineSearch(Problem& problem, int n, const double* xold, double fold, const double* g, double* dir, double* x,
                double* f, double stpmax, int* check, double tolx) {
  *check = 0;
  double sum = 0.0;
  for (int i = 1; i <= n; ++i) sum += dir[i] * dir[i];
  const double length = std::sqrt(sum);
  if (length > stpmax)
    for (int i = 1; i <= n; ++i) dir[i] *= stpmax / length;
  double slope = 0.0;
  for (int i = 1; i <= n; ++i) slope += g[i] * dir[i];
  // A NaN slope compares false with everything: test for descent positively.
  if (!(slope < 0.0)) {
    for (int i = 1; i <= n; ++i) x[i] = xold[i];
    *f = fold;
    return;
  }
  double test = 0.0;
  for (int i = 1; i <= n; ++i) test = std::max(test, std::fabs(dir[i]));
  const double alamin = tolx / test;
  double alam = 1.0, alam2 = 0.0, f2 = 0.0;
  for (;;) {
    for (int i = 1; i <= n; ++i) x[i] = xold[i] + alam * dir[i];
    *f = problem.Evaluate(x);
    problem.OnTrial(alam, *f);
    if (*f == kNoSimilarity) return;
    if (alam < alamin) {
      for (int i = 1; i <= n; ++i) x[i] = xold[i];
      *check = 1;
      return;
    }
    // Written so that a NaN value fails the sufficient-decrease test.
    if (*f <= fold + 1e-4 * alam * slope) return;
    double tmplam;
    if (alam == 1.0) {
      tmplam = -slope / (2.0 * (*f - fold - slope));
    } else {
      const double rhs1 = *f - fold - alam * slope;
      const double rhs2 = f2 - fold - alam2 * slope;
      const double a = (rhs1 / (alam * alam) - rhs2 / (alam2 * alam2)) / (alam - alam2);
      const double b = (-alam2 * rhs1 / (alam * alam) + alam * rhs2 / (alam2 * alam2)) / (alam - alam2);
      if (a == 0.0) {
        tmplam = -slope / (2.0 * b);
      } else {
        const double disc = b * b - 3.0 * a * slope;
        if (disc < 0.0)
          tmplam = 0.5 * alam;
        else if (b <= 0.0)
          tmplam = (-b + std::sqrt(disc)) / (3.0 * a);
        else
          tmplam = -slope / (b + std::sqrt(disc));
      }
      if (tmplam > 0.5 * alam) tmplam = 0.5 * alam;
    }
    alam2 = alam;
    f2 = *f;
    // A NaN step compares false and falls to the floor.
    alam = tmplam > 0.1 * alam ? tmplam : 0.1 * alam;
  }
}

// Working storage of one minimisation: five 1-based vectors of n + 1 doubles
// and the n x n inverse-Hessian estimate, row-major and contiguous, h[0]
// being element (1, 1). A family that allocates through its own routines (to
// report a failure in its own words) hands them in here.
struct QuasiNewtonWorkspace {
  double* g = nullptr;
  double* dg = nullptr;
  double* hdg = nullptr;
  double* pnew = nullptr;
  double* xi = nullptr;
  double* h = nullptr;
};

// Minimises in the caller's workspace. Returns false (p unchanged) when the
// start value is not finite; otherwise true with p at the point reached.
template <class Problem>
bool QuasiNewtonMinimizeIn(Problem& problem, double* p, int n, const QuasiNewtonSettings& settings,
                           const QuasiNewtonWorkspace& ws, int* iterations, double* finalValue) {
  if (n < 1) return false;
  double* g = ws.g;
  double* dg = ws.dg;
  double* hdg = ws.hdg;
  double* pnew = ws.pnew;
  double* xi = ws.xi;
  double* hstore = ws.h;
  auto H = [&](int i, int j) -> double& { return hstore[static_cast<size_t>(i - 1) * n + (j - 1)]; };

  double fp = problem.EvaluateWithGradient(p, g);
  if (!std::isfinite(fp)) return false;
  for (int i = 1; i <= n; ++i) {
    for (int j = 1; j <= n; ++j) H(i, j) = 0.0;
    H(i, i) = 1.0;
    xi[i] = -g[i];
  }
  double fret = fp;
  for (int its = 1; its <= settings.maxIterations; ++its) {
    if (iterations) *iterations = its;
    int check = 0;
    LineSearch(problem, n, p, fp, g, xi, pnew, &fret, settings.maxStep, &check, settings.stepTolerance);
    fp = fret;
    if (finalValue) *finalValue = fret;
    double step = 0.0;
    for (int i = 1; i <= n; ++i) {
      xi[i] = pnew[i] - p[i];
      p[i] = pnew[i];
      step = std::max(step, std::fabs(xi[i]));
    }
    if (problem.StopRequested()) return true;
    if (step < settings.stepTolerance) {
      if (step == 0.0 && check == 0) problem.OnNonDescent(its);
      return true;
    }
    for (int i = 1; i <= n; ++i) dg[i] = g[i];
    problem.EvaluateWithGradient(p, g);
    double gmax = 0.0;
    for (int i = 1; i <= n; ++i) gmax = std::max(gmax, std::fabs(g[i]));
    if (gmax < settings.gradientTolerance) return true;
    for (int i = 1; i <= n; ++i) dg[i] = g[i] - dg[i];
    for (int i = 1; i <= n; ++i) {
      double s = 0.0;
      for (int j = 1; j <= n; ++j) s += H(i, j) * dg[j];
      hdg[i] = s;
    }
    double fac = 0.0, fae = 0.0, sumdg = 0.0, sumxi = 0.0;
    for (int i = 1; i <= n; ++i) {
      fac += dg[i] * xi[i];
      fae += dg[i] * hdg[i];
      sumdg += dg[i] * dg[i];
      sumxi += xi[i] * xi[i];
    }
    if (fac > std::sqrt(3e-8 * sumdg * sumxi)) {
      fac = 1.0 / fac;
      const double fad = 1.0 / fae;
      for (int i = 1; i <= n; ++i) dg[i] = fac * xi[i] - fad * hdg[i];
      for (int i = 1; i <= n; ++i)
        for (int j = i; j <= n; ++j) {
          H(i, j) += fac * xi[i] * xi[j] - fad * hdg[i] * hdg[j] + fae * dg[i] * dg[j];
          H(j, i) = H(i, j);
        }
    }
    for (int i = 1; i <= n; ++i) {
      double s = 0.0;
      for (int j = 1; j <= n; ++j) s -= H(i, j) * g[j];
      xi[i] = s;
    }
  }
  problem.OnIterationCap();
  return true;
}

// Returns false (p unchanged) when the working storage cannot be allocated or
// the start value is not finite; otherwise true with p at the point reached.
template <class Problem>
bool QuasiNewtonMinimize(Problem& problem, double* p, int n, const QuasiNewtonSettings& settings, int* iterations,
                         double* finalValue) {
  if (n < 1) return false;
  const size_t len = static_cast<size_t>(n) + 1;
  std::unique_ptr<double[]> block(new (std::nothrow) double[5 * len + static_cast<size_t>(n) * n]);
  if (!block) return false;
  QuasiNewtonWorkspace ws;
  ws.g = block.get();
  ws.dg = ws.g + len;
  ws.hdg = ws.dg + len;
  ws.pnew = ws.hdg + len;
  ws.xi = ws.pnew + len;
  ws.h = ws.xi + len;
  return QuasiNewtonMinimizeIn(problem, p, n, settings, ws, iterations, finalValue);
}

}  // namespace Common
}  // namespace MIR
