#pragma once
// Fits a spline-family transformation by BFGS on minus its similarity, over
// the shared quasi-Newton core. Numerical trouble is reported to stderr and
// appended to "c:\MessageFile.txt" (through the drive mapping); nothing
// throws and the process goes on.
#include "../common/mir_visibility.h"
#include "transformation.h"

#include <cstdio>

namespace MIR MIR_HIDDEN {
namespace Cubic {

class Optimizer {
 public:
  Optimizer() = default;
  Optimizer(const Optimizer&) = delete;
  Optimizer& operator=(const Optimizer&) = delete;
  virtual ~Optimizer() = default;

  // PrepareOptimization, then minimises from t's parameters with the given
  // absolute tolerances and leaves the parameters reached set in t.
  virtual void Minimize(Transformation* t, double stepTolerance, double gradientTolerance);
  // Minus the cost of p; a model that writes no cost gives 99 (no similarity).
  virtual double Evaluate(const double* p);
  // The same with the gradient of minus the cost in g (zero if not written).
  virtual double EvaluateWithGradient(const double* p, double* g);

  // Minimises from p (1-based, n values) in place. *iter is the last
  // iteration begun, *fret the last line search's value. Allocation failure
  // or a non-finite start leave p as it was.
  void dfpmin(double* p, int n, double stepTolerance, double gradientTolerance, int* iter, double* fret);
  // One backtracking line search from xold along p (shortened to stpmax);
  // reports a direction that is not downhill.
  void lnsrch(int n, double* xold, double fold, double* g, double* p, double* x, double* f, double stpmax,
              int* check, double stepTolerance);

  // Vectors valid over nl..nh and matrices over [nrl..nrh][ncl..nch]; null
  // (with a report) when storage is short.
  double* vector(int nl, int nh);
  double* nrvector(int nl, int nh);
  double** matrix(int nrl, int nrh, int ncl, int nch);
  void free_vector(double* v, int nl, int nh);
  void free_nrvector(double* v, int nl, int nh);
  void free_matrix(double** m, int nrl, int nrh, int ncl, int nch);

  // Three lines to stderr and to "c:\MessageFile.txt"; sets errorFlag.
  void ReportNumericalError(const char* message);
  // Appends text as it stands to "d:\MessageFile.txt".
  void AppendMessageFile(const char* text);

  int errorFlag = 0;
  FILE* messageFile = nullptr;
  Transformation* transformation = nullptr;

 private:
  struct Problem;
  double* AllocateVector(int nl, int nh, const char* failure);
  int parameterCount_ = 0;  // size of the gradients handed to the model
};

}  // namespace Cubic
}  // namespace MIR
