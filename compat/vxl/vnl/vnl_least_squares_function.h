// vnl_least_squares_function: the residual vector (and optionally its Jacobian) that
// vnl_levenberg_marquardt minimises the squared sum of.
#pragma once

#include <vnl/vnl_matrix.h>
#include <vnl/vnl_vector.h>

class vnl_least_squares_function {
 public:
  enum UseGradient { no_gradient, use_gradient };

  // Set by f or gradf (through throw_failure) to stop the minimiser; it is cleared when read.
  bool failure = false;

  vnl_least_squares_function(unsigned int number_of_unknowns, unsigned int number_of_residuals,
                             UseGradient g = use_gradient);
  virtual ~vnl_least_squares_function();

  void throw_failure() { failure = true; }
  void clear_failure() { failure = false; }

  // fx (already sized to the number of residuals) receives the residuals at x.
  virtual void f(const vnl_vector<double>& x, vnl_vector<double>& fx) = 0;
  // jacobian (residuals x unknowns, already sized) receives d fx[i] / d x[j] at x. The base
  // version estimates it by central differences with step 1e-5.
  virtual void gradf(const vnl_vector<double>& x, vnl_matrix<double>& jacobian);
  // Central differences with the absolute step stepsize.
  void fdgradf(const vnl_vector<double>& x, vnl_matrix<double>& jacobian, double stepsize);
  // Called once per iteration when the minimiser traces; does nothing by default.
  virtual void trace(int iteration, const vnl_vector<double>& x, const vnl_vector<double>& fx);

  // Root mean square of the residuals at x.
  double rms(const vnl_vector<double>& x);

  unsigned int get_number_of_unknowns() const { return p_; }
  unsigned int get_number_of_residuals() const { return n_; }
  bool has_gradient() const { return use_gradient_; }

 protected:
  // Lets a derived function change its size once it knows its data.
  void init(unsigned int number_of_unknowns, unsigned int number_of_residuals) {
    p_ = number_of_unknowns;
    n_ = number_of_residuals;
  }

  unsigned int p_;
  unsigned int n_;
  bool use_gradient_;
};
