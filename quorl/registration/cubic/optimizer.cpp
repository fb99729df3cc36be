#include "optimizer.h"

#include "../common/quasi_newton.h"

#include <quorl/paths.h>

#include <new>

namespace MIR {
namespace Cubic {

// The optimiser seen by the shared core: a report stops the minimisation,
// and a direction that is not downhill or the iteration cap are reported.
struct Optimizer::Problem {
  Optimizer& o;
  double Evaluate(double* p) { return o.Evaluate(p); }
  double EvaluateWithGradient(double* p, double* g) { return o.EvaluateWithGradient(p, g); }
  bool StopRequested() const { return o.errorFlag != 0; }
  void OnNonDescent(int) { o.ReportNumericalError("Roundofffff problem in lnsrch."); }
  void OnIterationCap() { o.ReportNumericalError("too many iterations in dfpmin"); }
  void OnTrial(double, double) {}
};

void Optimizer::Minimize(Transformation* t, double stepTolerance, double gradientTolerance) {
  transformation = t;
  if (!t) return;
  t->PrepareOptimization();
  const int n = t->GetNumParams();
  if (n < 1) return;
  double* p = nrvector(1, n);
  if (!p) return;
  t->GetParams(p);
  int iterations = 0;
  double finalValue = 0.0;
  dfpmin(p, n, stepTolerance, gradientTolerance, &iterations, &finalValue);
  t->SetParams(p);
  free_nrvector(p, 1, n);
}

double Optimizer::Evaluate(const double* p) {
  double c = kNoSimilarity;
  transformation->Cost(p, &c);
  return -c;
}

double Optimizer::EvaluateWithGradient(const double* p, double* g) {
  double c = kNoSimilarity;
  for (int i = 1; i <= parameterCount_; ++i) g[i] = 0.0;
  transformation->CostAndGradient(p, g, &c);
  return -c;
}

void Optimizer::dfpmin(double* p, int n, double stepTolerance, double gradientTolerance, int* iter, double* fret) {
  errorFlag = 0;
  if (n < 1) return;
  parameterCount_ = n;
  double* dg = vector(1, n);
  double* g = dg ? vector(1, n) : nullptr;
  double* hdg = g ? vector(1, n) : nullptr;
  double** H = hdg ? matrix(1, n, 1, n) : nullptr;
  double* pnew = H ? vector(1, n) : nullptr;
  double* xi = pnew ? vector(1, n) : nullptr;
  if (xi) {
    Common::QuasiNewtonSettings settings;
    settings.stepTolerance = stepTolerance;
    settings.gradientTolerance = gradientTolerance;
    settings.maxIterations = 200;
    settings.maxStep = 1.0;
    Common::QuasiNewtonWorkspace ws;
    ws.g = g;
    ws.dg = dg;
    ws.hdg = hdg;
    ws.pnew = pnew;
    ws.xi = xi;
    ws.h = &H[1][1];
    Problem problem{*this};
    Common::QuasiNewtonMinimizeIn(problem, p, n, settings, ws, iter, fret);
  }
  if (xi) free_vector(xi, 1, n);
  if (pnew) free_vector(pnew, 1, n);
  if (H) free_matrix(H, 1, n, 1, n);
  if (hdg) free_vector(hdg, 1, n);
  if (g) free_vector(g, 1, n);
  if (dg) free_vector(dg, 1, n);
}

void Optimizer::lnsrch(int n, double* xold, double fold, double* g, double* p, double* x, double* f, double stpmax,
                       int* check, double stepTolerance) {
  Problem problem{*this};
  parameterCount_ = n;
  Common::LineSearch(problem, n, xold, fold, g, p, x, f, stpmax, check, stepTolerance);
  // The search scales p but keeps its sign: the same slope test decides.
  double slope = 0.0;
  for (int i = 1; i <= n; ++i) slope += g[i] * p[i];
  if (!(slope < 0.0)) ReportNumericalError("Roundofffff problem in lnsrch.");
}

double* Optimizer::AllocateVector(int nl, int nh, const char* failure) {
  double* block = nh >= nl - 1 ? new (std::nothrow) double[static_cast<size_t>(nh - nl) + 2]() : nullptr;
  if (!block) {
    ReportNumericalError(failure);
    return nullptr;
  }
  // v[nl] is the block's second double.
  return block + 1 - nl;
}

double* Optimizer::vector(int nl, int nh) { return AllocateVector(nl, nh, "allocation failure in vector()"); }

double* Optimizer::nrvector(int nl, int nh) { return AllocateVector(nl, nh, "allocation failure in nrvector()"); }

double** Optimizer::matrix(int nrl, int nrh, int ncl, int nch) {
  const size_t rows = static_cast<size_t>(nrh - nrl) + 1, cols = static_cast<size_t>(nch - ncl) + 1;
  double** m = nrh >= nrl ? new (std::nothrow) double*[rows + 1] : nullptr;
  if (!m) {
    ReportNumericalError("allocation failure 1 in matrix()");
    return nullptr;
  }
  m = m + 1 - nrl;
  double* data = nch >= ncl ? new (std::nothrow) double[rows * cols + 1]() : nullptr;
  if (!data) {
    delete[] (m + nrl - 1);
    ReportNumericalError("allocation failure 2 in matrix()");
    return nullptr;
  }
  m[nrl] = data + 1 - ncl;
  for (int i = nrl + 1; i <= nrh; ++i) m[i] = m[i - 1] + cols;
  return m;
}

void Optimizer::free_vector(double* v, int nl, int) { delete[] (v + nl - 1); }

void Optimizer::free_nrvector(double* v, int nl, int) { delete[] (v + nl - 1); }

void Optimizer::free_matrix(double** m, int nrl, int, int ncl, int) {
  delete[] (m[nrl] + ncl - 1);
  delete[] (m + nrl - 1);
}

void Optimizer::ReportNumericalError(const char* message) {
  static const char* const kFirst = "Numberical Recipes run-time error... \n";
  static const char* const kLast = "...now exiting to system...\n";
  std::fprintf(stderr, "%s", kFirst);
  std::fprintf(stderr, "%s \n", message);
  std::fprintf(stderr, "%s", kLast);
  messageFile = quorl::OpenFile("c:\\MessageFile.txt", "ab");
  if (messageFile) {
    std::fprintf(messageFile, "%s", kFirst);
    std::fprintf(messageFile, "%s \n", message);
    std::fprintf(messageFile, "%s", kLast);
    std::fclose(messageFile);
    messageFile = nullptr;
  }
  errorFlag = 1;
}

void Optimizer::AppendMessageFile(const char* text) {
  messageFile = quorl::OpenFile("d:\\MessageFile.txt", "ab");
  if (!messageFile) return;
  std::fprintf(messageFile, "%s", text);
  std::fclose(messageFile);
  messageFile = nullptr;
}

}  // namespace Cubic
}  // namespace MIR
