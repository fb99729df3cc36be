// The shared BFGS minimiser and line search on mock problems: any family's
// policy can reuse these cases with its own settings.
#include "common/quasi_newton.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <vector>

namespace {

using MIR::Common::LineSearch;
using MIR::Common::QuasiNewtonMinimize;
using MIR::Common::QuasiNewtonSettings;

// A problem from a value function and its gradient, recording every trial.
struct Mock {
  std::function<double(const double*)> value;
  std::function<void(const double*, double*)> gradient;
  int n = 0;
  int evaluations = 0, gradients = 0, nonDescents = 0, caps = 0, stopAfter = -1, lineSearches = 0;
  std::vector<double> trialSteps, trialValues;
  std::vector<std::vector<double>> trialPoints;

  double Evaluate(double* p) {
    ++evaluations;
    trialPoints.emplace_back(p + 1, p + 1 + n);
    return value(p);
  }
  double EvaluateWithGradient(double* p, double* g) {
    ++gradients;
    gradient(p, g);
    return value(p);
  }
  bool StopRequested() {
    ++lineSearches;
    return stopAfter >= 0 && lineSearches >= stopAfter;
  }
  void OnNonDescent(int) { ++nonDescents; }
  void OnIterationCap() { ++caps; }
  void OnTrial(double alam, double f) {
    trialSteps.push_back(alam);
    trialValues.push_back(f);
  }
};

Mock Bowl(int n) {
  Mock m;
  m.n = n;
  m.value = [n](const double* p) {
    double f = 0.0;
    for (int i = 1; i <= n; ++i) f += (1.0 + (i % 3)) * (p[i] - 0.1 * i) * (p[i] - 0.1 * i);
    return f;
  };
  m.gradient = [n](const double* p, double* g) {
    for (int i = 1; i <= n; ++i) g[i] = 2.0 * (1.0 + (i % 3)) * (p[i] - 0.1 * i);
  };
  return m;
}

TEST(RegistrationQuasiNewton, BowlsAndRosenbrockConverge) {
  for (int n : {2, 8, 50}) {
    Mock m = Bowl(n);
    std::vector<double> p(n + 1, 0.0);
    for (int i = 1; i <= n; ++i) p[i] = 1.5 - 0.05 * i;
    int iterations = 0;
    double value = 0.0;
    ASSERT_TRUE(QuasiNewtonMinimize(m, p.data(), n, QuasiNewtonSettings{}, &iterations, &value));
    for (int i = 1; i <= n; ++i) EXPECT_NEAR(p[i], 0.1 * i, 1e-3) << n << " " << i;
    EXPECT_LT(iterations, 200);
    EXPECT_EQ(m.caps, 0);
  }
  Mock r;
  r.n = 2;
  r.value = [](const double* p) { return 100 * std::pow(p[2] - p[1] * p[1], 2) + std::pow(1 - p[1], 2); };
  r.gradient = [](const double* p, double* g) {
    g[1] = -400 * p[1] * (p[2] - p[1] * p[1]) - 2 * (1 - p[1]);
    g[2] = 200 * (p[2] - p[1] * p[1]);
  };
  double p[3] = {0, -1.2, 1.0};
  int iterations = 0;
  ASSERT_TRUE(QuasiNewtonMinimize(r, p, 2, QuasiNewtonSettings{}, &iterations, nullptr));
  EXPECT_NEAR(p[1], 1.0, 1e-2);
  EXPECT_NEAR(p[2], 1.0, 2e-2);
}

TEST(RegistrationQuasiNewton, StartAtTheMinimumEndsAfterOneIterationUnchanged) {
  Mock m = Bowl(4);
  double p[5] = {};
  for (int i = 1; i <= 4; ++i) p[i] = 0.1 * i;
  int iterations = 0;
  double value = -1.0;
  ASSERT_TRUE(QuasiNewtonMinimize(m, p, 4, QuasiNewtonSettings{}, &iterations, &value));
  EXPECT_EQ(iterations, 1);
  for (int i = 1; i <= 4; ++i) EXPECT_DOUBLE_EQ(p[i], 0.1 * i);
  EXPECT_EQ(m.evaluations, 0);
  EXPECT_EQ(m.gradients, 1);
  EXPECT_EQ(m.nonDescents, 1);
  // The non-descent exit reports the start value, not an unset one.
  EXPECT_DOUBLE_EQ(value, 0.0);
}

TEST(RegistrationQuasiNewton, UnboundedDescentStopsAtTheIterationCap) {
  Mock m;
  m.n = 2;
  m.value = [](const double* p) { return -p[1]; };
  m.gradient = [](const double*, double* g) { g[1] = -1.0, g[2] = 0.0; };
  double p[3] = {0, 0, 0};
  int iterations = 0;
  ASSERT_TRUE(QuasiNewtonMinimize(m, p, 2, QuasiNewtonSettings{}, &iterations, nullptr));
  EXPECT_EQ(iterations, 200);
  EXPECT_EQ(m.caps, 1);
  EXPECT_NEAR(p[1], 200.0, 1e-9);  // one full, capped step per iteration
  EXPECT_EQ(m.lineSearches, 200);
}

TEST(RegistrationQuasiNewton, StopRequestEndsAfterTheCurrentLineSearch) {
  Mock m = Bowl(3);
  m.stopAfter = 2;
  double p[4] = {0, 3, 3, 3};
  int iterations = 0;
  ASSERT_TRUE(QuasiNewtonMinimize(m, p, 3, QuasiNewtonSettings{}, &iterations, nullptr));
  EXPECT_EQ(iterations, 2);
}

TEST(RegistrationQuasiNewton, NonFiniteStartAndSlopeEndWithPointUnchanged) {
  Mock m = Bowl(2);
  m.value = [](const double*) { return std::numeric_limits<double>::quiet_NaN(); };
  double p[3] = {0, 1, 2};
  EXPECT_FALSE(QuasiNewtonMinimize(m, p, 2, QuasiNewtonSettings{}, nullptr, nullptr));
  EXPECT_EQ(p[1], 1.0);
  EXPECT_EQ(p[2], 2.0);

  // A NaN slope is no descent direction.
  Mock s = Bowl(2);
  double xold[3] = {0, 1, 2}, x[3] = {0, 9, 9}, g[3] = {0, std::nan(""), 1}, dir[3] = {0, -1, -1}, f = 5;
  int check = 7;
  LineSearch(s, 2, xold, 3.0, g, dir, x, &f, 1.0, &check, 1e-5);
  EXPECT_EQ(x[1], 1.0);
  EXPECT_EQ(x[2], 2.0);
  EXPECT_EQ(f, 3.0);
  EXPECT_EQ(check, 0);
  EXPECT_EQ(s.evaluations, 0);
}

// Line-search trials of a one-parameter problem whose values are scripted:
// slope -1 along dir = 1 from xold = 0, fold = 0.
struct Scripted {
  std::vector<double> values;
  std::vector<double> expectedSteps;
  int expectedCheck;
};

TEST(RegistrationQuasiNewton, LineSearchBacktracksByItsRules) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const Scripted cases[] = {
      // Quadratic backtrack, not capped at 0.5 on the first: 1/(2 x 0.99995).
      {{-0.00005, -1.0}, {1.0, 1.0 / (2 * 0.99995)}, 0},
      // Far too high: the quadratic step 1/2002 is floored at 0.1; then the
      // cubic step (about 0.065) is capped at 0.5 x 0.1.
      {{1000.0, -0.000005, -1.0}, {1.0, 0.1, 0.05}, 0},
      // A NaN trial fails the test and its step falls to the 0.1 floor.
      {{nan, -1.0}, {1.0, 0.1}, 0},
  };
  for (const Scripted& c : cases) {
    Mock m;
    m.n = 1;
    size_t call = 0;
    m.value = [&](const double*) { return c.values[std::min(call++, c.values.size() - 1)]; };
    double xold[2] = {0, 0}, x[2], g[2] = {0, -1}, dir[2] = {0, 1}, f = 0;
    int check = -1;
    LineSearch(m, 1, xold, 0.0, g, dir, x, &f, 1.0, &check, 1e-5);
    ASSERT_EQ(m.trialSteps.size(), c.expectedSteps.size()) << c.values[0];
    for (size_t i = 0; i < c.expectedSteps.size(); ++i) EXPECT_NEAR(m.trialSteps[i], c.expectedSteps[i], 1e-12);
    EXPECT_EQ(check, c.expectedCheck);
    EXPECT_DOUBLE_EQ(x[1], c.expectedSteps.back());
  }
}

TEST(RegistrationQuasiNewton, LineSearchCapsTheStepAndGivesUpBelowTolerance) {
  Mock m;
  m.n = 2;
  m.value = [](const double*) { return 1.0; };  // never a decrease
  double xold[3] = {0, 10, 20}, x[3], g[3] = {0, -3, -4}, dir[3] = {0, 3, 4}, f = 0;
  int check = 0;
  LineSearch(m, 2, xold, 0.0, g, dir, x, &f, 1.0, &check, 1e-5);
  // The first trial moves by the capped length 1 along (3, 4) / 5.
  ASSERT_FALSE(m.trialPoints.empty());
  EXPECT_NEAR(m.trialPoints[0][0], 10.6, 1e-12);
  EXPECT_NEAR(m.trialPoints[0][1], 20.8, 1e-12);
  for (size_t i = 1; i < m.trialSteps.size(); ++i) {
    EXPECT_GE(m.trialSteps[i], 0.1 * m.trialSteps[i - 1] * (1 - 1e-12));
    if (i > 1) {
      EXPECT_LE(m.trialSteps[i], 0.5 * m.trialSteps[i - 1] * (1 + 1e-12));
    }
  }
  EXPECT_LT(m.trialSteps.back(), 1e-5 / 0.8);
  EXPECT_EQ(check, 1);
  EXPECT_EQ(x[1], 10.0);
  EXPECT_EQ(x[2], 20.0);
}

}  // namespace
