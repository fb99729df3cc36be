// vnl_levenberg_marquardt: minimises the sum of squares of a vnl_least_squares_function with
// MINPACK's Levenberg-Marquardt (cminpack's lmdif, or lmder with the function's own Jacobian).
//
// Defaults as VXL's: xtol 1e-8, ftol 1e-10, gtol 1e-5, epsfcn 1e-11, at most 400 x (number of
// unknowns) residual evaluations, internal variable scaling (MINPACK mode 1), step bound factor
// 100. After the minimisation the function is called once more at the returned x, so a function
// that keeps state from its last call ends in the state of the result.
//
// Each minimiser keeps its own state: several may run at once on different functions.
#pragma once

#include <iosfwd>

#include <vnl/vnl_least_squares_function.h>
#include <vnl/vnl_matrix.h>
#include <vnl/vnl_nonlinear_minimizer.h>
#include <vnl/vnl_vector.h>

class vnl_levenberg_marquardt : public vnl_nonlinear_minimizer {
 public:
  // The evaluation limit is taken from the function's number of unknowns now.
  explicit vnl_levenberg_marquardt(vnl_least_squares_function& f);
  ~vnl_levenberg_marquardt() override;

  vnl_levenberg_marquardt(const vnl_levenberg_marquardt&) = delete;
  vnl_levenberg_marquardt& operator=(const vnl_levenberg_marquardt&) = delete;

  // x holds the start on entry and the minimiser's last accepted point on return, success or
  // not. True for MINPACK info 1 to 4. Uses the function's Jacobian when it has one.
  bool minimize(vnl_vector<double>& x);
  // Forward-difference Jacobian with relative step sqrt(epsfcn) (lmdif).
  bool minimize_without_gradient(vnl_vector<double>& x);
  // The function's own gradf (lmder); refused when the function declares no gradient.
  bool minimize_using_gradient(vnl_vector<double>& x);

  // A one-line account of the last outcome.
  void diagnose_outcome() const;
  void diagnose_outcome(std::ostream& os) const;

  // Called by the MINPACK callbacks.
  struct Callbacks;

 private:
  bool refuse(bool need_gradient, const vnl_vector<double>& x);
  bool finish(int info, vnl_vector<double>& x);

  vnl_least_squares_function* f_;
  vnl_vector<double> fx_;
  int calls_ = 0;
};
