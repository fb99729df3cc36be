// Spline-family transformations: the rigid model with scale, the cubic and
// quadratic B-spline grids, their costs against central differences, their
// penalties, warps and sentinel results.
#include "cubic/cubic.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace MIR::Cubic;

// Smooth 16-bit content, shifted by (dx, dy) pixels. With framed, the
// content fades to a flat frame of 30000 (the background the border band
// gives) over the outer eighth: samples that cross the image border or the
// border band then change no value, and central differences stay smooth.
std::vector<unsigned short> Smooth(int side, double dx = 0.0, double dy = 0.0, bool framed = false) {
  std::vector<unsigned short> p(static_cast<size_t>(side) * side);
  const double k = 64.0 / side;
  auto fade = [&](int t) {
    const double e = std::min(t, side - 1 - t) * k;
    const double r = std::clamp((e - 7.0) / 6.0, 0.0, 1.0);
    return r * r * (3 - 2 * r);
  };
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x) {
      const double u = (x + dx) * k, v = (y + dy) * k;
      double value = 30000 + 14000 * std::sin(2 * M_PI * u / 23.0 + 0.5) * std::cos(2 * M_PI * v / 29.0) +
                     8000 * std::sin(2 * M_PI * (u + 2 * v) / 41.0) + 60.0 * (u - 32);
      if (framed) value = 30000 + (value - 30000) * fade(x) * fade(y);
      p[static_cast<size_t>(y) * side + x] = static_cast<unsigned short>(std::clamp(value, 0.0, 65535.0));
    }
  return p;
}

struct ImagePair {
  std::vector<unsigned short> a, b;
  Image source, reference;
  ImagePair(int log2, double dx, double dy, bool framed = false)
      : a(Smooth(1 << log2, 0, 0, framed)), b(Smooth(1 << log2, dx, dy, framed)) {
    source.Wrap(a.data(), log2);
    reference.Wrap(b.data(), log2);
  }
};

void B3(double t, double b[4]) {
  b[0] = (1 - t) * (1 - t) * (1 - t) / 6;
  b[1] = t * t * t / 2 - t * t + 2.0 / 3;
  b[2] = (1 - t) * (1 - t) * (1 - t) / 2 - (1 - t) * (1 - t) + 2.0 / 3;
  b[3] = t * t * t / 6;
}

void N2(double t, double n[3]) {
  n[0] = (1 - t) * (1 - t) / 2;
  n[1] = (1 + 2 * t - 2 * t * t) / 2;
  n[2] = t * t / 2;
}

// The cubic spline of a level at normalised (x, y), evaluated from scratch.
void CubicAt(const TrafoCubicSpline& t, int l, double x, double y, double* X, double* Y) {
  const int cells = 1 << l, n = cells + 3;
  const int i = std::min(static_cast<int>(x * cells), cells - 1), j = std::min(static_cast<int>(y * cells), cells - 1);
  double bu[4], bv[4];
  B3(x * cells - i, bu);
  B3(y * cells - j, bv);
  *X = *Y = 0;
  for (int q = 0; q < 4; ++q)
    for (int m = 0; m < 4; ++m) {
      *X += bu[m] * bv[q] * t.controlX[l][(j + q) * n + i + m];
      *Y += bu[m] * bv[q] * t.controlY[l][(j + q) * n + i + m];
    }
}

void QuadraticAt(const TrafoQuadraticSpline& t, int l, double x, double y, double* X, double* Y) {
  const int cells = 1 << l, n = cells + 2;
  const int i = std::min(static_cast<int>(x * cells), cells - 1), j = std::min(static_cast<int>(y * cells), cells - 1);
  double nu[3], nv[3];
  N2(x * cells - i, nu);
  N2(y * cells - j, nv);
  *X = *Y = 0;
  for (int b = 0; b < 3; ++b)
    for (int a = 0; a < 3; ++a) {
      *X += nu[a] * nv[b] * t.controlX[l][(j + b) * n + i + a];
      *Y += nu[a] * nv[b] * t.controlY[l][(j + b) * n + i + a];
    }
}

// ---------------------------------------------------------------- rigid

TEST(CubicRigid, ParametersRoundTripAndGridCorners) {
  Transformation base(3);
  EXPECT_EQ(base.GetNumParams(), 0);
  EXPECT_EQ(base.GetCost(), -99.0);

  ScaleableRigidTrafo t;
  double p[5];
  t.GetParams(p);
  EXPECT_EQ(std::vector<double>(p + 1, p + 5), (std::vector<double>{0, 0, 0, 1}));
  const double q[5] = {0, 0.3, -0.2, 1.5, 2.5};
  t.SetParams(q);
  t.GetParams(p);
  for (int i = 1; i <= 4; ++i) EXPECT_NEAR(p[i], q[i], 1e-14);
  const double native[4] = {0.1, -0.05, 0.2, 1.3};
  double back[4];
  t.SetNativeParams(native);
  t.GetNativeParams(back);
  EXPECT_EQ(std::vector<double>(back, back + 4), std::vector<double>(native, native + 4));

  ScaleableRigidTrafo identity;
  double xs[4], ys[4];
  identity.TransformGrid(xs, ys, 0);
  EXPECT_EQ(std::vector<double>(xs, xs + 4), (std::vector<double>{0, 1, 0, 1}));
  EXPECT_EQ(std::vector<double>(ys, ys + 4), (std::vector<double>{0, 0, 1, 1}));
  // A quarter turn about the centre.
  const double turn[4] = {0, 0, M_PI / 2, 1};
  t.SetNativeParams(turn);
  t.TransformGrid(xs, ys, 0);
  EXPECT_NEAR(xs[0], 1, 1e-12);
  EXPECT_NEAR(ys[0], 0, 1e-12);
  std::vector<double> gx(9), gy(9);
  t.TransformGrid(gx.data(), gy.data(), 1);
  EXPECT_NEAR(gx[4], 0.5, 1e-12);
}

TEST(CubicRigid, RenderWarpAtTheIdentityReproducesThePixels) {
  const int side = 16;
  std::vector<unsigned short> src(side * side), out(side * side, 1);
  for (int i = 0; i < side * side; ++i) src[i] = static_cast<unsigned short>(i * 257);
  src[5 * side + 5] = 65535;
  ScaleableRigidTrafo t;
  t.RenderWarp(src.data(), out.data(), 4321, 4);
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x) {
      const bool edge = x == side - 1 || y == side - 1;
      ASSERT_EQ(out[y * side + x], edge ? 4321 : src[y * side + x]) << x << "," << y;
    }
}

// ---------------------------------------------------------------- central differences

// -cost as a function of p, for a model with images set.
struct Probe {
  Transformation* t;
  int n;
  double Value(std::vector<double> p) {
    double c = 12345.0;
    t->Cost(p.data(), &c);
    return -c;
  }
  std::vector<double> Gradient(std::vector<double> p, double* cost) {
    std::vector<double> g(n + 1, 0.0);
    t->CostAndGradient(p.data(), g.data(), cost);
    return g;
  }
};

double RelativeError(const std::vector<double>& a, const std::vector<double>& b) {
  double d = 0, s = 0;
  for (size_t i = 1; i < a.size(); ++i) {
    d += (a[i] - b[i]) * (a[i] - b[i]);
    s += b[i] * b[i];
  }
  return std::sqrt(d / s);
}

struct GradientCase {
  std::string name;
  std::function<std::unique_ptr<Transformation>()> make;
  std::vector<double> steps;  // per parameter, or one for all
  double tolerance;           // relative, as a vector
};

TEST(CubicGradients, MatchCentralDifferences) {
  auto rigid = [](double tx, double ty, double angle, double scale) {
    return [=] {
      auto t = std::make_unique<ScaleableRigidTrafo>();
      const double v[4] = {tx, ty, angle, scale};
      t->SetNativeParams(v);
      return std::unique_ptr<Transformation>(std::move(t));
    };
  };
  // A level-1 grid, perturbed, with one point moved past its quarter cell.
  auto spline = [](auto* t) {
    t->RefineGrid();
    std::srand(11);
    t->PerturbControlPoints();
    const int n = (1 << 1) + (t->GetNumParams() == 2 * 25 ? 3 : 2);
    t->controlX[1][n + 1] += 0.2;  // 1.6 quarter cells
    return std::unique_ptr<Transformation>(t);
  };
  const std::vector<GradientCase> cases = {
      {"rigid identity", rigid(0, 0, 0, 1), {0.004, 0.004, 0.05, 0.05}, 0.05},
      {"rigid turned and scaled", rigid(0.02, -0.01, 0.1, 1.1), {0.004, 0.004, 0.05, 0.05}, 0.05},
      {"cubic spline", [&] { return spline(new TrafoCubicSpline(2)); }, {0.01}, 0.08},
      {"cubic sampling", [&] { return spline(new TrafoCubicIntensityCubic(2)); }, {0.01}, 0.02},
      {"quadratic spline", [&] { return spline(new TrafoQuadraticSpline(2, 0)); }, {0.01}, 0.08},
  };
  for (const GradientCase& c : cases) {
    ImagePair images(6, 1.3, -0.7, true);
    std::unique_ptr<Transformation> t = c.make();
    t->SetImages(&images.source, &images.reference);
    t->PrepareOptimization();
    const int n = t->GetNumParams();
    std::vector<double> p(n + 1, 0.0);
    t->GetParams(p.data());
    Probe probe{t.get(), n};
    double cost = 0.0;
    const std::vector<double> g = probe.Gradient(p, &cost);
    EXPECT_NEAR(-cost, probe.Value(p), 1e-12) << c.name;
    std::vector<double> fd(n + 1, 0.0);
    for (int i = 1; i <= n; ++i) {
      const double h = c.steps.size() == 1 ? c.steps[0] : c.steps[i - 1];
      std::vector<double> up = p, down = p;
      up[i] += h;
      down[i] -= h;
      fd[i] = (probe.Value(up) - probe.Value(down)) / (2 * h);
    }
    const double error = RelativeError(g, fd);
    if (getenv("SHOW_GRADIENTS"))
      for (int i = 1; i <= std::min(n, 8); ++i) std::printf("  %d: %.6g %.6g\n", i, g[i], fd[i]);
    EXPECT_LT(error, c.tolerance) << c.name;
    std::printf("%-24s relative gradient error %.4f\n", c.name.c_str(), error);
  }
}

// ---------------------------------------------------------------- spline grids

TEST(CubicSplineGrid, FreshGridIsTheIdentity) {
  TrafoCubicSpline t(3);
  EXPECT_EQ(t.GetNumParams(), 32);
  double p[33];
  t.GetParams(p);
  EXPECT_EQ(std::vector<double>(p + 1, p + 6), (std::vector<double>{-4, -4, 0, -4, 4}));
  for (int log2 = 0; log2 <= 6; ++log2) {
    const int S = 1 << log2;
    std::vector<double> xs(S * S, -1), ys(S * S, -1);
    t.TransformGrid(xs.data(), ys.data(), log2);
    for (int y = 0; y < S; ++y)
      for (int x = 0; x < S; ++x) {
        ASSERT_NEAR(xs[y * S + x], x, 1e-9) << log2;
        ASSERT_NEAR(ys[y * S + x], y, 1e-9) << log2;
      }
  }
  TrafoQuadraticSpline q(3, 0);
  EXPECT_EQ(q.GetNumParams(), 18);
  double r[19];
  q.GetParams(r);
  for (int row = 0; row < 3; ++row)
    for (int c = 0; c < 3; ++c) {
      EXPECT_DOUBLE_EQ(r[2 * (row * 3 + c) + 1], -2 + 4 * c);
      EXPECT_DOUBLE_EQ(r[2 * (row * 3 + c) + 2], -2 + 4 * row);
    }
  // Every level starts as its own identity; SetLevel is clamped.
  t.SetLevel(7);
  EXPECT_EQ(t.GetLevel(), 3);
  t.SetLevel(-2);
  EXPECT_EQ(t.GetLevel(), 0);
  t.SetLevel(2);
  double X, Y;
  t.TransformPoint(0.3, 0.7, &X, &Y);
  EXPECT_NEAR(X, 0.3, 1e-12);
  EXPECT_NEAR(Y, 0.7, 1e-12);
}

TEST(CubicSplineGrid, RefinementKeepsTheMapping) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> jitter(-0.05, 0.05);
  TrafoCubicSpline t(3);
  TrafoQuadraticSpline q(3, 0);
  for (auto& v : t.controlX[0]) v += jitter(rng);
  for (auto& v : t.controlY[0]) v += jitter(rng);
  for (auto& v : q.controlX[0]) v += jitter(rng);
  for (auto& v : q.controlY[0]) v += jitter(rng);
  for (int l = 0; l < 3; ++l) {
    std::vector<double> before(64 * 64), beforeY(64 * 64), after(64 * 64), afterY(64 * 64);
    t.TransformGrid(before.data(), beforeY.data(), 6);
    std::vector<double> qb;
    for (int k = 0; k < 200; ++k) {
      double X, Y;
      QuadraticAt(q, l, (k % 17) / 16.0, (k / 17) / 12.0, &X, &Y);
      qb.push_back(X);
      qb.push_back(Y);
    }
    t.RefineGrid();
    q.RefineGrid();
    ASSERT_EQ(t.GetLevel(), l + 1);
    ASSERT_EQ(q.GetLevel(), l + 1);
    EXPECT_EQ(t.anchorX[l + 1], t.controlX[l + 1]);
    EXPECT_EQ(q.anchorY[l + 1], q.controlY[l + 1]);
    t.TransformGrid(after.data(), afterY.data(), 6);
    for (size_t i = 0; i < after.size(); ++i) {
      ASSERT_NEAR(after[i], before[i], 1e-9);
      ASSERT_NEAR(afterY[i], beforeY[i], 1e-9);
    }
    for (int k = 0; k < 200; ++k) {
      double X, Y;
      QuadraticAt(q, l + 1, (k % 17) / 16.0, (k / 17) / 12.0, &X, &Y);
      ASSERT_NEAR(X, qb[2 * k], 1e-12);
      ASSERT_NEAR(Y, qb[2 * k + 1], 1e-12);
    }
  }
  t.RefineGrid();  // at maxLevel: nothing
  EXPECT_EQ(t.GetLevel(), 3);

  // The identity refines as given.
  TrafoCubicSpline c(1);
  c.RefineGrid();
  for (int col = 0; col < 5; ++col) EXPECT_DOUBLE_EQ(c.controlX[1][2 * 5 + col], -0.5 + 0.5 * col);
  TrafoQuadraticSpline d(1, 0);
  d.RefineGrid();
  for (int col = 0; col < 4; ++col) EXPECT_DOUBLE_EQ(d.controlX[1][4 + col], -0.25 + 0.5 * col);
}

TEST(CubicSplineGrid, TransformGridAndPointAgreeWithTheBasis) {
  std::mt19937 rng(8);
  std::uniform_real_distribution<double> jitter(-0.03, 0.03);
  TrafoCubicSpline t(2);
  t.RefineGrid();
  t.RefineGrid();
  for (auto& v : t.controlX[2]) v += jitter(rng);
  for (auto& v : t.controlY[2]) v += jitter(rng);
  const int S = 32;
  std::vector<double> xs(S * S), ys(S * S);
  t.TransformGrid(xs.data(), ys.data(), 5);
  for (int y = 0; y < S; ++y)
    for (int x = 0; x < S; ++x) {
      double X, Y, PX, PY;
      CubicAt(t, 2, static_cast<double>(x) / S, static_cast<double>(y) / S, &X, &Y);
      t.TransformPoint(static_cast<double>(x) / S, static_cast<double>(y) / S, &PX, &PY);
      ASSERT_NEAR(xs[y * S + x], S * X, 1e-9);
      ASSERT_NEAR(ys[y * S + x], S * Y, 1e-9);
      ASSERT_NEAR(S * PX, xs[y * S + x], 1e-9);
      ASSERT_NEAR(S * PY, ys[y * S + x], 1e-9);
    }
  // Far outside or not a number: the nearest cell, no stray read.
  double X, Y;
  t.TransformPoint(1e300, std::nan(""), &X, &Y);
  t.TransformPoint(-5, 7, &X, &Y);
}

TEST(CubicSplineGrid, InitFromATranslationMovesPointsAndAnchorsAtLevelZero) {
  ScaleableRigidTrafo shift;
  const double v[4] = {0.1, -0.05, 0, 1};
  shift.SetNativeParams(v);
  TrafoCubicSpline c(2);
  TrafoQuadraticSpline q(2, 0);
  c.RefineGrid();
  q.RefineGrid();
  c.InitFrom(&shift);
  q.InitFrom(&shift);
  EXPECT_EQ(c.GetLevel(), 0);
  EXPECT_EQ(q.GetLevel(), 0);
  for (int k = 0; k < 16; ++k) {
    EXPECT_NEAR(c.controlX[0][k], (k % 4) - 1 + 0.1, 1e-12);
    EXPECT_NEAR(c.anchorY[0][k], (k / 4) - 1 - 0.05, 1e-12);
  }
  for (int k = 0; k < 9; ++k) {
    EXPECT_NEAR(q.controlX[0][k], (k % 3) - 0.5 + 0.1, 1e-12);
    EXPECT_NEAR(q.anchorY[0][k], (k / 3) - 0.5 - 0.05, 1e-12);
  }
  // Initialising again maps the identity nodes, not the grid left behind.
  std::srand(2);
  c.PerturbControlPoints();
  q.PerturbControlPoints();
  const std::vector<double> cx = c.anchorX[0], qy = q.anchorY[0];
  c.InitFrom(&shift);
  q.InitFrom(&shift);
  EXPECT_EQ(c.controlX[0], cx);
  EXPECT_EQ(q.controlY[0], qy);
  // A spline initialises another through its point transform.
  TrafoCubicSpline other(1);
  other.InitFrom(&c);
  EXPECT_NEAR(other.controlX[0][5], 0.1, 1e-12);
  // A quadratic maps no point: the grid stays.
  TrafoCubicSpline fromQuadratic(1);
  fromQuadratic.InitFrom(&q);
  EXPECT_EQ(fromQuadratic.controlX[0][5], 0.0);
}

TEST(CubicSplineGrid, PerturbationStaysWithinAQuarterOfTheSpacing) {
  TrafoCubicSpline c(1);
  TrafoQuadraticSpline q(1, 0);
  c.RefineGrid();
  q.RefineGrid();
  std::srand(4);
  c.PerturbControlPoints();
  q.PerturbControlPoints();
  auto check = [](const std::vector<double>& now, const std::vector<double>& anchor, int n) {
    double largest = 0;
    for (size_t k = 0; k < now.size(); ++k) {
      EXPECT_LE(std::fabs(now[k] - anchor[k]), 0.25 / n + 1e-15);
      largest = std::max(largest, std::fabs(now[k] - anchor[k]));
    }
    EXPECT_GT(largest, 0.1 / n);
  };
  check(c.controlX[1], c.anchorX[1], 5);
  check(c.controlY[1], c.anchorY[1], 5);
  check(q.controlX[1], q.anchorX[1], 4);
  // The anchors still hold the identity.
  EXPECT_DOUBLE_EQ(c.anchorX[1][6], 0.0);
  EXPECT_DOUBLE_EQ(q.anchorX[1][5], 0.25);
}

TEST(CubicSplineGrid, PixelWeightsSumToOneAndAreProducts) {
  TrafoQuadraticSpline q(7, 0);
  for (int d = 0; d <= 7; ++d) {
    q.SetLevel(7 - d);
    q.BuildPixelWeights(7);
    const int f = 1 << d;
    for (int v = 0; v < f; v += std::max(1, f / 8))
      for (int u = 0; u < f; u += std::max(1, f / 8)) {
        const double* w = &q.pixelWeights[(v * (f + 1) + u) * 9];
        double nu[3], nv[3], sum = 0;
        N2(static_cast<double>(u) / f, nu);
        N2(static_cast<double>(v) / f, nv);
        for (int a = 0; a < 3; ++a)
          for (int b = 0; b < 3; ++b) {
            ASSERT_NEAR(w[3 * a + b], nv[b] * nu[a], 1e-15) << d;
            sum += w[3 * a + b];
          }
        ASSERT_NEAR(sum, 1.0, 1e-14);
      }
  }
  // The shared tables hold exact products at odd entries too.
  double n0[3], n1[3];
  N2(3 / 1024.0, n0);
  N2(1001 / 1024.0, n1);
  EXPECT_NEAR(q.basis01[3 * 1025 + 1001], n0[0] * n1[1], 1e-16);
  EXPECT_NEAR(q.basis11[3 * 1025 + 1001], n0[1] * n1[1], 1e-16);
}

// ---------------------------------------------------------------- costs

TEST(CubicSplineCost, PenaltyStartsPastAQuarterCell) {
  TrafoCubicSpline c(1);
  TrafoQuadraticSpline q(1, 0);
  struct Case {
    double move;    // in cells of the level
    double penalty;
  };
  for (int level = 0; level <= 1; ++level) {
    if (level == 1) {
      c.RefineGrid();
      q.RefineGrid();
    }
    const double cell = 1.0 / (1 << level);
    for (const Case k : {Case{0.25, 0.0}, Case{0.5, 4.0}, Case{-0.5, 4.0}, Case{0.75, 16.0}}) {
      c.controlX[level] = c.anchorX[level];
      q.controlY[level] = q.anchorY[level];
      c.controlX[level][3] += k.move * cell;
      q.controlY[level][2] += k.move * cell;
      c.cost = q.cost = 0.0;
      c.AddDisplacementPenalty();
      q.AddDisplacementPenalty();
      EXPECT_NEAR(c.cost, -k.penalty, 1e-12) << level << " " << k.move;
      EXPECT_NEAR(q.cost, -k.penalty, 1e-12) << level << " " << k.move;
      // The gradient path subtracts the same and pulls the point back.
      c.cost = 0.0;
      std::fill(c.gradX.begin(), c.gradX.end(), 0.0);
      std::fill(c.gradY.begin(), c.gradY.end(), 0.0);
      c.AddDisplacementPenaltyAndGradient();
      EXPECT_NEAR(c.cost, -k.penalty, 1e-12);
      if (k.penalty > 0) {
        EXPECT_LT(c.gradX[3] * k.move, 0.0);
      }
      EXPECT_EQ(c.gradY[3], 0.0);
    }
  }
}

TEST(CubicSplineCost, CorrelationIsOneUnderGainAndOffset) {
  // The source's last row and column equal its background, so the samples
  // that fall there read what the pixels hold.
  const int S = 32;
  std::vector<unsigned short> a = Smooth(S);
  for (int i = 0; i < S; ++i) a[i * S + S - 1] = a[(S - 1) * S + i] = 20000;
  std::vector<unsigned short> b(a.size());
  for (size_t i = 0; i < a.size(); ++i) b[i] = static_cast<unsigned short>(a[i] / 2 + 1000);
  Image source, reference;
  source.Wrap(a.data(), 5);
  source.background = 20000;
  reference.Wrap(b.data(), 5);
  TrafoCubicSpline c(0);
  TrafoQuadraticSpline q(0, 0);
  for (Transformation* t : {static_cast<Transformation*>(&c), static_cast<Transformation*>(&q)}) {
    t->SetImages(&source, &reference);
    t->PrepareOptimization();
    std::vector<double> p(t->GetNumParams() + 1), g(p.size());
    t->GetParams(p.data());
    double cost = 0;
    t->CostAndGradient(p.data(), g.data(), &cost);
    EXPECT_NEAR(cost, 1.0, 1e-4);  // the reference's halving rounds
  }
}

TEST(CubicSplineCost, MissingImagesAndOversizedSidesAreNoSimilarity) {
  std::vector<unsigned short> a = Smooth(32);
  Image image;
  image.Wrap(a.data(), 5);
  TrafoCubicSpline c(1);
  TrafoCubicIntensityCubic ic(1);
  TrafoQuadraticSpline q(1, 0);
  for (TrafoCubicSpline* t : {&c, static_cast<TrafoCubicSpline*>(&ic)}) {
    std::vector<double> p(33), g(33, 7.0);
    t->GetParams(p.data());
    double cost = 5.0;
    t->Cost(p.data(), &cost);
    t->CostAndGradient(p.data(), g.data(), &cost);
    EXPECT_EQ(cost, 5.0);
    EXPECT_EQ(g[3], 7.0);
    t->SetImages(&image, nullptr);
    t->Cost(p.data(), &cost);
    EXPECT_EQ(cost, 5.0);
  }
  std::vector<double> p(19), g(19, 7.0);
  double cost = 5.0;
  q.GetParams(p.data());
  q.CostAndGradient(p.data(), g.data(), &cost);
  EXPECT_EQ(cost, 5.0);

  // log2Size 11 (the buffers are never read) and a level finer than the side.
  c.gradX[0] = q.gradX[0] = 3.0;
  c.ComputeCostAndGradient(a.data(), a.data(), 0, 11);
  EXPECT_EQ(c.GetCost(), -99.0);
  EXPECT_EQ(c.gradX[0], 0.0);
  q.ComputeCostAndGradient(a.data(), a.data(), 0, 11);
  EXPECT_EQ(q.GetCost(), -99.0);
  EXPECT_EQ(q.gradX[0], 0.0);
  c.cost = 1;
  c.ComputeCost(a.data(), a.data(), 0, 11);
  EXPECT_EQ(c.GetCost(), -99.0);
  ic.RefineGrid();
  ic.ComputeCost(image.splineCoefficients, a.data(), 0, 0);  // level 1 on one pixel
  EXPECT_EQ(ic.GetCost(), -99.0);
  // A flat image has no variance: NCC 0, no gradient.
  std::vector<unsigned short> flat(32 * 32, 500);
  c.SetLevel(0);
  c.ComputeCostAndGradient(flat.data(), a.data(), 500, 5);
  EXPECT_EQ(c.GetCost(), 0.0);
  EXPECT_EQ(c.gradX[5], 0.0);
  ScaleableRigidTrafo r;
  r.ComputeCostAndGradient(a.data(), flat.data(), 500, 5);
  EXPECT_EQ(r.GetCost(), 0.0);
  EXPECT_EQ(r.gradient[2], 0.0);
}

TEST(CubicSplineCost, QuadraticCostsOnCellsWiderThanTheWeightRecords) {
  // log2Size 8 at level 0: 256-pixel cells read the weights from the tables.
  const int S = 256;
  std::vector<unsigned short> a = Smooth(S), b = Smooth(S, 0.5, 0.25);
  Image source, reference;
  source.Wrap(a.data(), 8);
  reference.Wrap(b.data(), 8);
  TrafoQuadraticSpline q(2, 0);
  q.SetImages(&source, &reference);
  q.PrepareOptimization();
  std::vector<double> p(19), g(19);
  q.GetParams(p.data());
  double cost = 0, plain = 0;
  q.CostAndGradient(p.data(), g.data(), &cost);
  q.Cost(p.data(), &plain);
  EXPECT_GT(cost, 0.9);
  EXPECT_DOUBLE_EQ(cost, plain);
  // The same cost from records at level 1 equals the identity's at level 0.
  q.RefineGrid();
  std::vector<double> p1(q.GetNumParams() + 1);
  q.GetParams(p1.data());
  double refined = 0;
  q.Cost(p1.data(), &refined);
  EXPECT_NEAR(refined, cost, 1e-9);
}

// ---------------------------------------------------------------- warps

TEST(CubicSplineWarp, BilinearRenderFloorsAndKeepsTheLastRowOutside) {
  const int S = 16;
  std::vector<unsigned short> src(S * S), out(S * S, 7);
  for (int y = 0; y < S; ++y)
    for (int x = 0; x < S; ++x) src[y * S + x] = static_cast<unsigned short>(3 * x + 40000 * (y == 2));
  TrafoCubicSpline c(0);
  // Half a pixel to the right.
  for (auto& v : c.controlX[0]) v += 0.5 / S;
  c.RenderWarped(src.data(), out.data(), 999, 4);
  for (int y = 0; y < S; ++y)
    for (int x = 0; x < S; ++x) {
      const bool outside = x == S - 1 || y == S - 1;  // 15.5 floors onto the last column
      const int expected = outside ? 999 : static_cast<int>(std::floor(src[y * S + x] + 1.5));
      ASSERT_EQ(out[y * S + x], expected) << x << "," << y;
    }
  std::vector<unsigned short> untouched(4, 3);
  c.RenderWarped(src.data(), untouched.data(), 0, 11);
  EXPECT_EQ(untouched, (std::vector<unsigned short>{3, 3, 3, 3}));

  // The quadratic keeps values above 32767 and is exact on 1024-pixel cells.
  const int L = 10, N = 1 << L;
  std::vector<unsigned short> big(static_cast<size_t>(N) * N), warped(big.size(), 0);
  for (int y = 0; y < N; ++y)
    for (int x = 0; x < N; ++x) big[static_cast<size_t>(y) * N + x] = static_cast<unsigned short>(40000 + x * 20 + y);
  TrafoQuadraticSpline q(0, 0);
  q.RenderWarped(big.data(), warped.data(), 5, L);
  for (int y = 0; y < N; y += 7)
    for (int x = 0; x < N; x += 5) {
      const bool outside = x == N - 1 || y == N - 1;
      ASSERT_EQ(warped[static_cast<size_t>(y) * N + x], outside ? 5 : big[static_cast<size_t>(y) * N + x])
          << x << "," << y;
    }
}

TEST(CubicSplineWarp, FixedPointMapMatchesTheSpline) {
  std::mt19937 rng(12);
  std::uniform_real_distribution<double> jitter(-0.04, 0.04);
  for (int random = 0; random < 2; ++random)
    for (int d = 0; d <= 3; ++d) {
      TrafoQuadraticSpline q(2, 0);
      q.RefineGrid();
      q.RefineGrid();
      if (random)
        for (auto* a : {&q.controlX[2], &q.controlY[2]})
          for (auto& v : *a) v += jitter(rng);
      const int L = 2 + d, side = (1 << L) + 1;
      std::vector<int> mx(side * side), my(side * side);
      q.ComputeFixedPointMap(mx.data(), my.data(), L);
      const double scale = std::ldexp(1.0, L + 10);
      for (int Y = 0; Y < side; ++Y)
        for (int X = 0; X < side; ++X) {
          double px, py;
          QuadraticAt(q, 2, static_cast<double>(X) / (side - 1), static_cast<double>(Y) / (side - 1), &px, &py);
          ASSERT_NEAR(mx[Y * side + X], px * scale, 1.0) << d << " " << X << "," << Y;
          ASSERT_NEAR(my[Y * side + X], py * scale, 1.0);
        }
    }
}

TEST(CubicSampling, IdentityReproducesTheInteriorAndLeavesTheBorder) {
  const int S = 32;
  std::vector<unsigned short> a = Smooth(S);
  Image source;
  source.Wrap(a.data(), 5);
  TrafoCubicIntensityCubic t(1);
  t.SetImages(&source, &source);
  ASSERT_TRUE(source.splineCoefficients);
  std::vector<unsigned short> out(S * S, 12345);
  t.RenderWarped(source.splineCoefficients, out.data(), 0, 5);
  // Rows and columns 1 and S - 2 lie exactly on the support's limits: a
  // position a rounding error below the integer leaves 1 out and takes
  // S - 2 in.
  for (int y = 0; y < S; ++y)
    for (int x = 0; x < S; ++x) {
      const bool inside = x >= 2 && y >= 2 && x <= S - 3 && y <= S - 3;
      const bool limit = !inside && x >= 1 && y >= 1 && x <= S - 2 && y <= S - 2;
      const int value = out[y * S + x];
      if (inside || (limit && value != 12345)) {
        ASSERT_NEAR(value, a[y * S + x], 0.5 + 1e-9) << x << "," << y;
      } else if (!limit) {
        ASSERT_EQ(value, 12345) << x << "," << y;
      }
    }
  // A black/white step overshoots both ways: clamped, not wrapped.
  std::vector<unsigned short> step(S * S);
  for (int y = 0; y < S; ++y)
    for (int x = 0; x < S; ++x) step[y * S + x] = x < S / 2 ? 0 : 65535;
  Image stepImage;
  stepImage.Wrap(step.data(), 5);
  TrafoCubicIntensityCubic s(0);
  s.SetImages(&stepImage, &stepImage);
  for (auto& v : s.controlX[0]) v += 0.5 / S;  // half a pixel: between the taps
  std::vector<unsigned short> stepped(S * S, 1);
  s.RenderWarped(stepImage.splineCoefficients, stepped.data(), 0, 5);
  // The interpolant rings on both sides of the edge (at 15.5): 14.5 dips
  // below 0 and 16.5 rises above 65535. Wrapped, they would read near 65535
  // and near 0.
  EXPECT_EQ(stepped[8 * S + S / 2 - 2], 0);
  EXPECT_EQ(stepped[8 * S + S / 2], 65535);
  for (int x = 1; x < S / 2 - 1; ++x) EXPECT_LT(stepped[8 * S + x], 2000) << x;
  for (int x = S / 2; x < S - 2; ++x) EXPECT_GT(stepped[8 * S + x], 63000) << x;
}

TEST(CubicSampling, TableIsBuiltOnceAndOnFirstUse) {
  ImagePair images(5, 0.4, 0.3);
  TrafoCubicIntensityCubic lazy(0), prepared(0);
  lazy.SetImages(&images.source, &images.reference);
  prepared.SetImages(&images.source, &images.reference);
  prepared.PrepareOptimization();
  const double* table = prepared.splineWeights;
  prepared.PrepareOptimization();
  EXPECT_EQ(prepared.splineWeights, table);
  std::vector<double> p(33), g(33);
  lazy.GetParams(p.data());
  double a = 0, b = 0;
  lazy.Cost(p.data(), &a);
  prepared.Cost(p.data(), &b);
  EXPECT_EQ(a, b);
  EXPECT_GT(a, 0.5);
  EXPECT_TRUE(lazy.splineWeights);
}

}  // namespace
