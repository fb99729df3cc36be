#include <vnl/algo/vnl_levenberg_marquardt.h>

#include <cminpack.h>

#include <algorithm>
#include <iostream>
#include <vector>

namespace {

// MINPACK's step bound factor and scaling mode, as VXL passes them.
constexpr double kStepBoundFactor = 100.0;
constexpr int kInternalScaling = 1;
// A callback with iflag 0 comes at the start of every iteration and once before return; it
// counts the iterations and drives the trace.
constexpr int kPrintEveryIteration = 1;

const char* outcome_text(vnl_nonlinear_minimizer::ReturnCodes code) {
  switch (code) {
    case vnl_nonlinear_minimizer::ERROR_FAILURE: return "the least-squares function asked to stop";
    case vnl_nonlinear_minimizer::ERROR_DODGY_INPUT: return "improper input (fewer residuals than unknowns, wrong start size or tolerances)";
    case vnl_nonlinear_minimizer::CONVERGED_FTOL: return "converged: relative reduction of the sum of squares below ftol";
    case vnl_nonlinear_minimizer::CONVERGED_XTOL: return "converged: relative step below xtol";
    case vnl_nonlinear_minimizer::CONVERGED_XFTOL: return "converged: both ftol and xtol met";
    case vnl_nonlinear_minimizer::CONVERGED_GTOL: return "converged: gradient orthogonal to the residuals within gtol";
    case vnl_nonlinear_minimizer::FAILED_TOO_MANY_ITERATIONS: return "failed: evaluation limit reached";
    case vnl_nonlinear_minimizer::FAILED_FTOL_TOO_SMALL: return "failed: ftol too small, no further reduction possible";
    case vnl_nonlinear_minimizer::FAILED_XTOL_TOO_SMALL: return "failed: xtol too small, no further improvement possible";
    case vnl_nonlinear_minimizer::FAILED_GTOL_TOO_SMALL: return "failed: gtol too small, residuals orthogonal to the Jacobian";
    case vnl_nonlinear_minimizer::FAILED_USER_REQUEST: return "failed: stopped on request";
  }
  return "unknown outcome";
}

// MINPACK's work arrays for m residuals and p unknowns.
struct Workspace {
  Workspace(int m, int p)
      : fvec(size_t(m)), diag(size_t(p)), fjac(size_t(m) * size_t(p)), qtf(size_t(p)), wa1(size_t(p)),
        wa2(size_t(p)), wa3(size_t(p)), wa4(size_t(m)), ipvt(size_t(p)) {}
  std::vector<double> fvec, diag, fjac, qtf, wa1, wa2, wa3, wa4;
  std::vector<int> ipvt;
};

}  // namespace

struct vnl_levenberg_marquardt::Callbacks {
  // MINPACK passes the current point and its residuals.
  static void trace(vnl_levenberg_marquardt& self, int m, int n, const double* x, const double* fvec) {
    ++self.num_iterations_;
    if (!self.trace_) return;
    const vnl_vector<double> xv(x, size_t(n));
    const vnl_vector<double> fv(fvec, size_t(m));
    std::cerr << "vnl_levenberg_marquardt: iteration " << self.num_iterations_ << ", rms error " << fv.rms()
              << '\n';
    self.f_->trace(self.num_iterations_, xv, fv);
  }

  // Returns false when the function raised its failure flag.
  static bool evaluate(vnl_levenberg_marquardt& self, int m, int n, const double* x, double* fvec) {
    const vnl_vector<double> xv(x, size_t(n));
    self.f_->f(xv, self.fx_);
    if (self.fx_.size() != size_t(m)) {
      self.fx_.set_size(size_t(m));
      return false;
    }
    std::copy(self.fx_.begin(), self.fx_.begin() + m, fvec);
    if (++self.calls_ == 1) self.start_error_ = self.fx_.rms();
    if (self.f_->failure) {
      self.f_->clear_failure();
      return false;
    }
    return true;
  }

  static int lmdif_fcn(void* p, int m, int n, const double* x, double* fvec, int iflag) {
    auto& self = *static_cast<vnl_levenberg_marquardt*>(p);
    if (iflag == 0) {
      trace(self, m, n, x, fvec);
      return 0;
    }
    return evaluate(self, m, n, x, fvec) ? 0 : -1;
  }

  static int lmder_fcn(void* p, int m, int n, const double* x, double* fvec, double* fjac, int ldfjac, int iflag) {
    auto& self = *static_cast<vnl_levenberg_marquardt*>(p);
    if (iflag == 0) {
      trace(self, m, n, x, fvec);
      return 0;
    }
    if (iflag == 1) return evaluate(self, m, n, x, fvec) ? 0 : -1;
    const vnl_vector<double> xv(x, size_t(n));
    vnl_matrix<double> J(static_cast<size_t>(m), static_cast<size_t>(n));
    self.f_->gradf(xv, J);
    if (J.rows() != size_t(m) || J.cols() != size_t(n)) return -1;
    // MINPACK stores the Jacobian column-major.
    for (int j = 0; j < n; ++j)
      for (int i = 0; i < m; ++i) fjac[i + size_t(j) * size_t(ldfjac)] = J(size_t(i), size_t(j));
    if (self.f_->failure) {
      self.f_->clear_failure();
      return -1;
    }
    return 0;
  }
};

vnl_levenberg_marquardt::vnl_levenberg_marquardt(vnl_least_squares_function& f) : f_(&f) {
  maxfev_ = 400 * int(f.get_number_of_unknowns());
}

vnl_levenberg_marquardt::~vnl_levenberg_marquardt() = default;

bool vnl_levenberg_marquardt::minimize(vnl_vector<double>& x) {
  return f_->has_gradient() ? minimize_using_gradient(x) : minimize_without_gradient(x);
}

bool vnl_levenberg_marquardt::refuse(bool need_gradient, const vnl_vector<double>& x) {
  start_error_ = end_error_ = 0.0;
  num_evaluations_ = num_iterations_ = calls_ = 0;
  const unsigned p = f_->get_number_of_unknowns();
  const unsigned n = f_->get_number_of_residuals();
  const char* why = nullptr;
  if (n < p)
    why = "fewer residuals than unknowns";
  else if (p == 0)
    why = "no unknowns";
  else if (x.size() != p)
    why = "start vector size differs from the number of unknowns";
  else if (need_gradient && !f_->has_gradient())
    why = "the function has no gradient";
  if (!why) return false;
  failure_code_ = ERROR_DODGY_INPUT;
  if (verbose_) std::cerr << "vnl_levenberg_marquardt: will not minimize: " << why << '\n';
  return true;
}

bool vnl_levenberg_marquardt::finish(int info, vnl_vector<double>& x) {
  num_evaluations_ = calls_;
  num_iterations_ = std::max(0, num_iterations_ - 1);  // the last iflag 0 call precedes return
  failure_code_ = info < 0 ? ERROR_FAILURE : ReturnCodes(info);
  // The function sees the result last, whatever point MINPACK tried last.
  f_->f(x, fx_);
  f_->clear_failure();
  end_error_ = fx_.rms();
  if (verbose_) diagnose_outcome(std::cerr);
  return info >= 1 && info <= 4;
}

bool vnl_levenberg_marquardt::minimize_without_gradient(vnl_vector<double>& x) {
  if (refuse(false, x)) return false;
  const int p = int(f_->get_number_of_unknowns());
  const int m = int(f_->get_number_of_residuals());
  fx_.set_size(size_t(m));
  Workspace w(m, p);
  int nfev = 0;
  const int info = lmdif(&Callbacks::lmdif_fcn, this, m, p, x.data_block(), w.fvec.data(), ftol_, xtol_, gtol_,
                         maxfev_, epsfcn_, w.diag.data(), kInternalScaling, kStepBoundFactor, kPrintEveryIteration,
                         &nfev, w.fjac.data(), m, w.ipvt.data(), w.qtf.data(), w.wa1.data(), w.wa2.data(), w.wa3.data(),
                         w.wa4.data());
  return finish(info, x);
}

bool vnl_levenberg_marquardt::minimize_using_gradient(vnl_vector<double>& x) {
  if (refuse(true, x)) return false;
  const int p = int(f_->get_number_of_unknowns());
  const int m = int(f_->get_number_of_residuals());
  fx_.set_size(size_t(m));
  Workspace w(m, p);
  int nfev = 0, njev = 0;
  const int info = lmder(&Callbacks::lmder_fcn, this, m, p, x.data_block(), w.fvec.data(), w.fjac.data(), m, ftol_,
                         xtol_, gtol_, maxfev_, w.diag.data(), kInternalScaling, kStepBoundFactor,
                         kPrintEveryIteration, &nfev, &njev, w.ipvt.data(), w.qtf.data(), w.wa1.data(), w.wa2.data(),
                         w.wa3.data(), w.wa4.data());
  return finish(info, x);
}

void vnl_levenberg_marquardt::diagnose_outcome() const { diagnose_outcome(std::cerr); }

void vnl_levenberg_marquardt::diagnose_outcome(std::ostream& os) const {
  os << "vnl_levenberg_marquardt: " << outcome_text(failure_code_) << " (code " << int(failure_code_) << "), "
     << num_evaluations_ << " evaluations, " << num_iterations_ << " iterations, rms error " << start_error_
     << " -> " << end_error_ << '\n';
}
