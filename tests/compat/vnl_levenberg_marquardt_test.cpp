// vnl_levenberg_marquardt over cminpack: convergence, refusal, limits, the extra residual call,
// the analytic-Jacobian road and independence of concurrent minimisers.
#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <cmath>
#include <thread>
#include <vector>

#include <vnl/algo/vnl_levenberg_marquardt.h>
#include <vnl/vnl_least_squares_function.h>
#include <vnl/vnl_matrix.h>
#include <vnl/vnl_random.h>
#include <vnl/vnl_vector.h>

namespace {

// Rosenbrock's function as two residuals: 10 (y - x^2) and 1 - x; minimum 0 at (1, 1).
class Rosenbrock : public vnl_least_squares_function {
 public:
  explicit Rosenbrock(UseGradient g = no_gradient) : vnl_least_squares_function(2, 2, g) {}

  void f(const vnl_vector<double>& x, vnl_vector<double>& fx) override {
    ++calls;
    last_x = x;
    fx[0] = 10.0 * (x[1] - x[0] * x[0]);
    fx[1] = 1.0 - x[0];
    if (fail_at_call == calls) throw_failure();
  }
  void gradf(const vnl_vector<double>& x, vnl_matrix<double>& J) override {
    ++gradient_calls;
    J(0, 0) = -20.0 * x[0];
    J(0, 1) = 10.0;
    J(1, 0) = -1.0;
    J(1, 1) = 0.0;
  }

  int calls = 0;
  int gradient_calls = 0;
  int fail_at_call = -1;
  vnl_vector<double> last_x;
};

// Residuals A x - b of a tall linear system: the minimum is the least-squares solution.
class LinearResiduals : public vnl_least_squares_function {
 public:
  LinearResiduals(const vnl_matrix<double>& A, const vnl_vector<double>& b, UseGradient g)
      : vnl_least_squares_function(unsigned(A.cols()), unsigned(A.rows()), g), A_(A), b_(b) {}
  void f(const vnl_vector<double>& x, vnl_vector<double>& fx) override { fx = A_ * x - b_; }
  void gradf(const vnl_vector<double>&, vnl_matrix<double>& J) override { J = A_; }

 private:
  vnl_matrix<double> A_;
  vnl_vector<double> b_;
};

// More unknowns than residuals: MINPACK cannot be given this problem.
class Underdetermined : public vnl_least_squares_function {
 public:
  Underdetermined() : vnl_least_squares_function(3, 2, no_gradient) {}
  void f(const vnl_vector<double>& x, vnl_vector<double>& fx) override {
    ++calls;
    fx[0] = x[0] + x[1];
    fx[1] = x[2];
  }
  int calls = 0;
};

TEST(VnlLevenbergMarquardt, DefaultsAreVxls) {
  Rosenbrock f;
  vnl_levenberg_marquardt lm(f);
  EXPECT_EQ(lm.get_x_tolerance(), 1e-8);
  EXPECT_EQ(lm.get_f_tolerance(), 1e-10);
  EXPECT_EQ(lm.get_g_tolerance(), 1e-5);
  EXPECT_EQ(lm.get_epsilon_function(), 1e-11);
  EXPECT_EQ(lm.get_max_function_evals(), 400 * 2);
  EXPECT_FALSE(lm.get_trace());
  EXPECT_FALSE(lm.get_verbose());
}

TEST(VnlLevenbergMarquardt, RosenbrockConvergesToOneOne) {
  Rosenbrock f;
  vnl_levenberg_marquardt lm(f);
  vnl_vector<double> x{-1.2, 1.0};
  ASSERT_TRUE(lm.minimize(x));
  EXPECT_NEAR(x[0], 1.0, 1e-8);
  EXPECT_NEAR(x[1], 1.0, 1e-8);
  EXPECT_GE(lm.get_failure_code(), vnl_nonlinear_minimizer::CONVERGED_FTOL);
  EXPECT_LE(lm.get_failure_code(), vnl_nonlinear_minimizer::CONVERGED_GTOL);
  // At (-1.2, 1): residuals 10 (1 - 1.44) = -4.4 and 2.2; RMS over the two.
  EXPECT_NEAR(lm.get_start_error(), std::sqrt((4.4 * 4.4 + 2.2 * 2.2) / 2.0), 1e-12);
  EXPECT_LT(lm.get_end_error(), 1e-8);
  EXPECT_GT(lm.get_num_evaluations(), 0);
  EXPECT_GT(lm.get_num_iterations(), 0);
  EXPECT_LE(lm.get_num_iterations(), lm.get_num_evaluations());
  EXPECT_EQ(f.gradient_calls, 0);  // no gradient declared: forward differences
}

TEST(VnlLevenbergMarquardt, OneMoreResidualCallAtTheResult) {
  Rosenbrock f;
  vnl_levenberg_marquardt lm(f);
  vnl_vector<double> x{-1.2, 1.0};
  ASSERT_TRUE(lm.minimize(x));
  EXPECT_EQ(f.calls, lm.get_num_evaluations() + 1);
  EXPECT_EQ(f.last_x, x);  // exactly the returned point
  vnl_vector<double> fx(2);
  f.f(x, fx);
  EXPECT_DOUBLE_EQ(lm.get_end_error(), fx.rms());
}

TEST(VnlLevenbergMarquardt, RefusesFewerResidualsThanUnknowns) {
  Underdetermined f;
  vnl_levenberg_marquardt lm(f);
  vnl_vector<double> x{1.0, 2.0, 3.0};
  EXPECT_FALSE(lm.minimize(x));
  EXPECT_EQ(lm.get_failure_code(), vnl_nonlinear_minimizer::ERROR_DODGY_INPUT);
  EXPECT_EQ(f.calls, 0);
  EXPECT_EQ(x, (vnl_vector<double>{1.0, 2.0, 3.0}));
  EXPECT_EQ(lm.get_num_evaluations(), 0);
}

TEST(VnlLevenbergMarquardt, RefusesAStartOfTheWrongSize) {
  Rosenbrock f;
  vnl_levenberg_marquardt lm(f);
  vnl_vector<double> x{1.0, 2.0, 3.0};
  EXPECT_FALSE(lm.minimize(x));
  EXPECT_EQ(lm.get_failure_code(), vnl_nonlinear_minimizer::ERROR_DODGY_INPUT);
  EXPECT_EQ(f.calls, 0);
}

TEST(VnlLevenbergMarquardt, EvaluationLimitStopsTheRun) {
  for (int limit : {3, 6, 10}) {
    Rosenbrock f;
    vnl_levenberg_marquardt lm(f);
    lm.set_max_function_evals(limit);
    vnl_vector<double> x{-1.2, 1.0};
    EXPECT_FALSE(lm.minimize(x)) << limit;
    EXPECT_EQ(lm.get_failure_code(), vnl_nonlinear_minimizer::FAILED_TOO_MANY_ITERATIONS) << limit;
    // MINPACK checks the limit after each trial step, so one Jacobian's worth may pass it.
    EXPECT_GE(lm.get_num_evaluations(), limit);
    EXPECT_LE(lm.get_num_evaluations(), limit + 2);
    EXPECT_EQ(f.calls, lm.get_num_evaluations() + 1);
  }
}

TEST(VnlLevenbergMarquardt, FailureFlagStopsTheRunAndIsCleared) {
  Rosenbrock f;
  f.fail_at_call = 5;
  vnl_levenberg_marquardt lm(f);
  vnl_vector<double> x{-1.2, 1.0};
  EXPECT_FALSE(lm.minimize(x));
  EXPECT_EQ(lm.get_failure_code(), vnl_nonlinear_minimizer::ERROR_FAILURE);
  EXPECT_FALSE(f.failure);
  EXPECT_EQ(f.calls, 6);  // five by the minimiser, then the one at the returned point
}

TEST(VnlLevenbergMarquardt, AnalyticJacobianReachesTheSameMinimum) {
  Rosenbrock numeric;
  vnl_levenberg_marquardt lmNumeric(numeric);
  vnl_vector<double> xn{-1.2, 1.0};
  ASSERT_TRUE(lmNumeric.minimize_without_gradient(xn));

  Rosenbrock analytic(vnl_least_squares_function::use_gradient);
  vnl_levenberg_marquardt lmAnalytic(analytic);
  vnl_vector<double> xa{-1.2, 1.0};
  ASSERT_TRUE(lmAnalytic.minimize_using_gradient(xa));
  EXPECT_GT(analytic.gradient_calls, 0);
  EXPECT_NEAR(xa[0], xn[0], 1e-8);
  EXPECT_NEAR(xa[1], xn[1], 1e-8);
  // The analytic Jacobian saves the finite-difference evaluations.
  EXPECT_LT(lmAnalytic.get_num_evaluations(), lmNumeric.get_num_evaluations());
  EXPECT_EQ(analytic.calls, lmAnalytic.get_num_evaluations() + 1);
  EXPECT_EQ(analytic.last_x, xa);

  // minimize() takes the function's gradient when it declares one.
  Rosenbrock dispatched(vnl_least_squares_function::use_gradient);
  vnl_levenberg_marquardt lmDispatched(dispatched);
  vnl_vector<double> xd{-1.2, 1.0};
  ASSERT_TRUE(lmDispatched.minimize(xd));
  EXPECT_GT(dispatched.gradient_calls, 0);
}

TEST(VnlLevenbergMarquardt, GradientRoadRefusedWithoutAGradient) {
  Rosenbrock f;
  vnl_levenberg_marquardt lm(f);
  vnl_vector<double> x{-1.2, 1.0};
  EXPECT_FALSE(lm.minimize_using_gradient(x));
  EXPECT_EQ(lm.get_failure_code(), vnl_nonlinear_minimizer::ERROR_DODGY_INPUT);
  EXPECT_EQ(f.calls, 0);
}

// A tall problem checks the Jacobian's layout: m != n and every entry distinct.
TEST(VnlLevenbergMarquardt, LinearLeastSquaresMatchesEigenOnBothRoads) {
  vnl_random rng(17);
  vnl_matrix<double> A(10, 3);
  vnl_vector<double> b(10);
  for (double& v : A) v = rng.drand64(-1, 1);
  for (double& v : b) v = rng.drand64(-1, 1);
  using RowMat = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;
  const Eigen::VectorXd expected = Eigen::Map<const RowMat>(A.data_block(), 10, 3)
                                       .colPivHouseholderQr()
                                       .solve(Eigen::Map<const Eigen::VectorXd>(b.data_block(), 10));
  for (auto g : {vnl_least_squares_function::no_gradient, vnl_least_squares_function::use_gradient}) {
    LinearResiduals f(A, b, g);
    vnl_levenberg_marquardt lm(f);
    vnl_vector<double> x(3, 0.0);
    ASSERT_TRUE(lm.minimize(x)) << g;
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(x[i], expected[i], 1e-7) << g;
    EXPECT_NEAR(lm.get_end_error(), (A * x - b).rms(), 1e-15);
  }
}

TEST(VnlLevenbergMarquardt, ConcurrentMinimisersDoNotInterfere) {
  std::vector<vnl_vector<double>> results(4);
  std::vector<int> evaluations(4);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t, &results, &evaluations] {
      Rosenbrock f;
      vnl_levenberg_marquardt lm(f);
      vnl_vector<double> x{-1.2 - 0.1 * t, 1.0};
      lm.minimize(x);
      results[size_t(t)] = x;
      evaluations[size_t(t)] = lm.get_num_evaluations();
    });
  for (auto& th : threads) th.join();
  for (int t = 0; t < 4; ++t) {
    Rosenbrock f;
    vnl_levenberg_marquardt lm(f);
    vnl_vector<double> x{-1.2 - 0.1 * t, 1.0};
    lm.minimize(x);
    EXPECT_EQ(results[size_t(t)], x) << t;
    EXPECT_EQ(evaluations[size_t(t)], lm.get_num_evaluations()) << t;
  }
}

TEST(VnlLevenbergMarquardt, TracePrintsOnlyWhenAsked) {
  for (bool on : {false, true}) {
    Rosenbrock f;
    vnl_levenberg_marquardt lm(f);
    lm.set_trace(on);
    vnl_vector<double> x{-1.2, 1.0};
    testing::internal::CaptureStderr();
    lm.minimize(x);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.find("iteration") != std::string::npos, on) << err;
  }
}

}  // namespace
