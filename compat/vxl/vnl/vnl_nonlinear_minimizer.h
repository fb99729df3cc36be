// vnl_nonlinear_minimizer: the settings and outcome that VXL's minimisers share.
#pragma once

class vnl_nonlinear_minimizer {
 public:
  // The outcome; 1 to 8 are MINPACK's own info codes.
  enum ReturnCodes {
    ERROR_FAILURE = -1,         // the function asked to stop (failure flag)
    ERROR_DODGY_INPUT = 0,      // refused: bad sizes or tolerances
    CONVERGED_FTOL = 1,         // relative reduction of the sum of squares below ftol
    CONVERGED_XTOL = 2,         // relative step below xtol
    CONVERGED_XFTOL = 3,        // both
    CONVERGED_GTOL = 4,         // gradient orthogonal to the residuals within gtol
    FAILED_TOO_MANY_ITERATIONS = 5,  // evaluation limit reached
    FAILED_FTOL_TOO_SMALL = 6,
    FAILED_XTOL_TOO_SMALL = 7,
    FAILED_GTOL_TOO_SMALL = 8,
    FAILED_USER_REQUEST = 9
  };

  virtual ~vnl_nonlinear_minimizer() = default;

  void set_f_tolerance(double v) { ftol_ = v; }
  double get_f_tolerance() const { return ftol_; }
  void set_x_tolerance(double v) { xtol_ = v; }
  double get_x_tolerance() const { return xtol_; }
  void set_g_tolerance(double v) { gtol_ = v; }
  double get_g_tolerance() const { return gtol_; }
  void set_max_function_evals(int v) { maxfev_ = v; }
  int get_max_function_evals() const { return maxfev_; }
  // Relative step of the forward-difference Jacobian is sqrt(epsfcn).
  void set_epsilon_function(double v) { epsfcn_ = v; }
  double get_epsilon_function() const { return epsfcn_; }
  // Trace prints one line per iteration to standard error; verbose adds the outcome.
  void set_trace(bool on) { trace_ = on; }
  bool get_trace() const { return trace_; }
  void set_verbose(bool on) { verbose_ = on; }
  bool get_verbose() const { return verbose_; }

  // Root mean square of the residuals at the start and at the returned x.
  double get_start_error() const { return start_error_; }
  double get_end_error() const { return end_error_; }
  // Residual evaluations made by the last minimisation (finite-difference ones included).
  int get_num_evaluations() const { return num_evaluations_; }
  int get_num_iterations() const { return num_iterations_; }
  ReturnCodes get_failure_code() const { return failure_code_; }

 protected:
  // VXL's defaults; the evaluation limit is set by the minimiser from the problem size.
  double xtol_ = 1e-8;
  double ftol_ = 1e-10;
  double gtol_ = 1e-5;
  double epsfcn_ = 1e-11;
  int maxfev_ = 2000;
  bool trace_ = false;
  bool verbose_ = false;

  double start_error_ = 0.0;
  double end_error_ = 0.0;
  int num_evaluations_ = 0;
  int num_iterations_ = 0;
  ReturnCodes failure_code_ = ERROR_DODGY_INPUT;
};
