#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <set>
#include <vector>

#include "../../quorl/MVG/src/delaunay.h"
#include "MVG/thin_plate_spline.h"

namespace {

// Reaches the protected inversion.
class SplineProbe : public MVG::phknDspline {
 public:
  using MVG::phknDspline::inverse;
};

// N dimensions of M samples at irregular positions.
struct Samples {
  int N, M;
  std::vector<std::vector<double>> pos;
  std::vector<double*> rows;
  std::vector<double> values;
  Samples(int n, int m, unsigned seed, double (*f)(const double*, int)) : N(n), M(m), pos(n), rows(n), values(m) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-3.0, 5.0);
    for (int d = 0; d < N; ++d) {
      pos[d].resize(m);
      for (double& v : pos[d]) v = u(rng);
      rows[d] = pos[d].data();
    }
    for (int i = 0; i < M; ++i) values[i] = f(Point(i).data(), N);
  }
  std::vector<double> Point(int i) const {
    std::vector<double> p(N);
    for (int d = 0; d < N; ++d) p[d] = pos[d][i];
    return p;
  }
};

double Wavy(const double* x, int n) {
  double s = 0;
  for (int d = 0; d < n; ++d) s += std::sin(x[d] * (d + 1)) + 0.1 * x[d] * x[d];
  return s;
}

double Affine(const double* x, int n) {
  double s = 2.5;
  for (int d = 0; d < n; ++d) s += (d + 1.5) * x[d] * (d % 2 ? -1 : 1);
  return s;
}

TEST(ThinPlateSpline, InterpolatesWithZeroLambda) {
  for (int N : {1, 2, 3}) {
    const int M = N + 2 + 5;
    Samples s(N, M, 10 + N, Wavy);
    MVG::phknDspline spline;
    spline.init(N);
    ASSERT_EQ(spline.train(M, s.rows.data(), s.values.data(), 0.0), 1) << N;
    for (int i = 0; i < M; ++i) {
      std::vector<double> p = s.Point(i);
      EXPECT_NEAR(spline(p.data()), s.values[i], 1e-8 * (1 + std::fabs(s.values[i]))) << "N " << N << " sample " << i;
    }
  }
}

TEST(ThinPlateSpline, ReproducesAnAffineFunction) {
  for (int N : {1, 2, 3}) {
    const int M = N + 6;
    Samples s(N, M, 20 + N, Affine);
    MVG::phknDspline spline;
    spline.init(N);
    ASSERT_EQ(spline.train(M, s.rows.data(), s.values.data(), 0.0), 1);
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> u(-2.0, 4.0);
    for (int k = 0; k < 10; ++k) {
      std::vector<double> p(N);
      for (double& v : p) v = u(rng);
      EXPECT_NEAR(spline(p.data()), Affine(p.data(), N), 1e-7) << "N " << N;
    }
  }
}

TEST(ThinPlateSpline, FailuresLeaveItUntrained) {
  Samples s(2, 8, 3, Wavy);
  double x[2] = {0.5, 0.5};
  MVG::phknDspline spline;
  EXPECT_TRUE(std::isnan(spline(x)));
  // Before init.
  EXPECT_EQ(spline.train(8, s.rows.data(), s.values.data(), 0.0), 0);
  EXPECT_TRUE(std::isnan(spline(x)));

  spline.init(2);
  EXPECT_TRUE(std::isnan(spline(x)));
  ASSERT_EQ(spline.train(8, s.rows.data(), s.values.data(), 0.0), 1);
  EXPECT_FALSE(std::isnan(spline(x)));

  // Two equal positions with lambda 0: two equal rows of K.
  Samples dup = s;
  for (int d = 0; d < 2; ++d) {
    dup.rows[d] = dup.pos[d].data();
    dup.pos[d][5] = dup.pos[d][2];
  }
  EXPECT_EQ(spline.train(8, dup.rows.data(), dup.values.data(), 0.0), 0);
  EXPECT_TRUE(std::isnan(spline(x)));
  // A second failure as well.
  EXPECT_EQ(spline.train(8, dup.rows.data(), dup.values.data(), 0.0), 0);
  EXPECT_TRUE(std::isnan(spline(x)));
}

TEST(ThinPlateSpline, ConstantDimensionFailsWithScaleOne) {
  class Inspect : public MVG::phknDspline {
   public:
    double Scale(int d) const { return scale[d]; }
  } spline;
  Samples s(2, 8, 4, Wavy);
  std::fill(s.pos[1].begin(), s.pos[1].end(), 1.25);
  spline.init(2);
  for (double lambda : {0.0, 0.1, 10.0}) EXPECT_EQ(spline.train(8, s.rows.data(), s.values.data(), lambda), 0);
  double x[2] = {0.5, 1.25};
  EXPECT_TRUE(std::isnan(spline(x)));
  EXPECT_EQ(spline.Scale(1), 1.0);
  EXPECT_NE(spline.Scale(0), 1.0);
}

TEST(ThinPlateSpline, CopiesAreIndependent) {
  Samples s(2, 9, 6, Wavy), t(2, 9, 7, Affine);
  double x[2] = {0.7, 1.1};
  MVG::phknDspline a;
  a.init(2);
  ASSERT_EQ(a.train(9, s.rows.data(), s.values.data(), 0.0), 1);
  const double va = a(x);
  MVG::phknDspline copy(a);
  EXPECT_EQ(copy(x), va);
  MVG::phknDspline assigned;
  assigned.init(3);
  assigned = a;
  EXPECT_EQ(assigned(x), va);
  assigned = assigned;  // self-assignment keeps it
  EXPECT_EQ(assigned(x), va);
  // Train the original twice: the copies keep their own arrays (ASan would
  // report a use after free or a double free otherwise).
  ASSERT_EQ(a.train(9, t.rows.data(), t.values.data(), 0.0), 1);
  ASSERT_EQ(a.train(9, t.rows.data(), t.values.data(), 0.0), 1);
  EXPECT_NEAR(a(x), Affine(x, 2), 1e-7);
  EXPECT_EQ(copy(x), va);
  {
    MVG::phknDspline scoped(copy);
    MVG::phknDspline untrained;
    scoped = untrained;
    EXPECT_TRUE(std::isnan(scoped(x)));
  }
  EXPECT_EQ(copy(x), va);
  copy.clean();
  EXPECT_TRUE(std::isnan(copy(x)));
}

TEST(ThinPlateSpline, InverseWithPivotsAndSingular) {
  SplineProbe probe;
  struct Case {
    const char* name;
    double m[9];
    bool invertible;
  } cases[] = {
      {"known", {4, 7, 2, 3, 6, 1, 2, 5, 3}, true},
      {"zero diagonal", {0, 1, 2, 1, 0, 3, 4, -3, 0}, true},
      {"row twice another", {1, 2, 3, 2, 4, 6, 1, 0, 1}, false},
  };
  for (const Case& c : cases) {
    double data[9];
    std::copy(c.m, c.m + 9, data);
    double* rows[3] = {data, data + 3, data + 6};
    double* const before[3] = {rows[0], rows[1], rows[2]};
    EXPECT_EQ(probe.inverse(3, rows), c.invertible ? 1 : 0) << c.name;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(rows[i], before[i]) << c.name;  // row pointers untouched
    if (!c.invertible) continue;
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) {
        double s = 0;
        for (int k = 0; k < 3; ++k) s += c.m[3 * i + k] * data[3 * k + j];
        EXPECT_NEAR(s, i == j ? 1.0 : 0.0, 1e-12) << c.name;
      }
  }
}

// ---------------------------------------------------------------------------
// Delaunay triangulation

std::vector<MVG::DelaunayVertex> SortedRandomPoints(int n, unsigned seed, double scale) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(0.0, 100.0);
  std::vector<MVG::DelaunayVertex> v(static_cast<size_t>(n) + 3);
  for (int i = 0; i < n; ++i) v[static_cast<size_t>(i)] = {u(rng) * scale, u(rng) * scale, 0.0};
  std::qsort(v.data(), static_cast<size_t>(n), sizeof(MVG::DelaunayVertex), MVG::DelaunayCompareX);
  return v;
}

double Cross(const MVG::DelaunayVertex& o, const MVG::DelaunayVertex& a, const MVG::DelaunayVertex& b) {
  return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
}

// Andrew's monotone chain over points sorted by x: the hull's vertex count
// and area.
void Hull(const std::vector<MVG::DelaunayVertex>& sorted, int n, int* h, double* area) {
  std::vector<MVG::DelaunayVertex> pts(sorted.begin(), sorted.begin() + n);
  std::sort(pts.begin(), pts.end(), [](const auto& a, const auto& b) { return a.x < b.x || (a.x == b.x && a.y < b.y); });
  std::vector<MVG::DelaunayVertex> hull(2 * static_cast<size_t>(n));
  int k = 0;
  for (int i = 0; i < n; ++i) {
    while (k >= 2 && Cross(hull[k - 2], hull[k - 1], pts[i]) <= 0) --k;
    hull[k++] = pts[i];
  }
  for (int i = n - 2, t = k + 1; i >= 0; --i) {
    while (k >= t && Cross(hull[k - 2], hull[k - 1], pts[i]) <= 0) --k;
    hull[k++] = pts[i];
  }
  *h = k - 1;
  *area = 0;
  for (int i = 0; i + 1 < k; ++i) *area += hull[i].x * hull[i + 1].y - hull[i + 1].x * hull[i].y;
  *area = std::fabs(*area) / 2;
}

std::set<std::vector<int>> TriangleSet(const std::vector<MVG::DelaunayTriangle>& t, int count) {
  std::set<std::vector<int>> out;
  for (int i = 0; i < count; ++i) {
    std::vector<int> v = {t[i].p1, t[i].p2, t[i].p3};
    std::sort(v.begin(), v.end());
    out.insert(v);
  }
  return out;
}

TEST(Delaunay, ThreePointsMakeOneTriangle) {
  std::vector<MVG::DelaunayVertex> v = {{0, 0, 0}, {1, 2, 0}, {3, 0.5, 0}, {}, {}, {}};
  std::vector<MVG::DelaunayTriangle> t(12);
  int ntri = -1;
  ASSERT_EQ(MVG::DelaunayTriangulate(3, v.data(), t.data(), &ntri), 0);
  ASSERT_EQ(ntri, 1);
  EXPECT_EQ(TriangleSet(t, 1), (std::set<std::vector<int>>{{0, 1, 2}}));
}

TEST(Delaunay, FewerThanThreePointsGiveNone) {
  for (int nv : {0, 1, 2}) {
    // Exactly the documented room: nv + 3 vertices, 4 nv triangles.
    std::vector<MVG::DelaunayVertex> v(static_cast<size_t>(nv) + 3, {1, 1, 0});
    std::vector<MVG::DelaunayTriangle> t(static_cast<size_t>(4 * nv));
    int ntri = -1;
    EXPECT_EQ(MVG::DelaunayTriangulate(nv, v.data(), t.data(), &ntri), 0);
    EXPECT_EQ(ntri, 0);
  }
}

TEST(Delaunay, RandomPointsGiveAValidTriangulation) {
  const int n = 200;
  std::vector<MVG::DelaunayVertex> v = SortedRandomPoints(n, 99, 1.0);
  std::vector<MVG::DelaunayTriangle> t(4 * n);
  int ntri = 0;
  ASSERT_EQ(MVG::DelaunayTriangulate(n, v.data(), t.data(), &ntri), 0);
  int h;
  double hullArea;
  Hull(v, n, &h, &hullArea);
  EXPECT_GT(ntri, n);  // a nearly full triangulation
  EXPECT_LE(ntri, 2 * n - 2 - h);
  double area = 0;
  for (int i = 0; i < ntri; ++i) {
    const auto& a = v[t[i].p1];
    const auto& b = v[t[i].p2];
    const auto& c = v[t[i].p3];
    ASSERT_LT(std::max({t[i].p1, t[i].p2, t[i].p3}), n);
    area += std::fabs(Cross(a, b, c)) / 2;
    // Empty circumcircle: no other point strictly inside.
    double xc, yc, r;
    MVG::DelaunayCircumCircle(a.x, a.y, a.x, a.y, b.x, b.y, c.x, c.y, &xc, &yc, &r);
    for (int k = 0; k < n; ++k) {
      if (k == t[i].p1 || k == t[i].p2 || k == t[i].p3) continue;
      const double d = std::hypot(v[k].x - xc, v[k].y - yc);
      ASSERT_GT(d, r * (1 - 1e-9)) << "triangle " << i << " point " << k;
    }
  }
  // Triangles that do not overlap cannot cover more than the hull.
  EXPECT_LE(area, hullArea * (1 + 1e-9));
  // No two triangles share a directed edge (overlap would).
  std::set<std::pair<int, int>> directed;
  for (int i = 0; i < ntri; ++i) {
    int p[3] = {t[i].p1, t[i].p2, t[i].p3};
    if (Cross(v[p[0]], v[p[1]], v[p[2]]) < 0) std::swap(p[1], p[2]);
    for (int e = 0; e < 3; ++e) EXPECT_TRUE(directed.insert({p[e], p[(e + 1) % 3]}).second);
  }
}

TEST(Delaunay, TinyScaleGivesTheSameTriangles) {
  // At 2^-10 the points lie within 0.1: many pairs and some triples have y
  // values within 1e-4 of each other.
  const int n = 200;
  std::vector<MVG::DelaunayVertex> big = SortedRandomPoints(n, 5, 1.0);
  std::vector<MVG::DelaunayVertex> small = SortedRandomPoints(n, 5, std::ldexp(1.0, -10));
  std::vector<MVG::DelaunayTriangle> tb(4 * n), ts(4 * n);
  int nb = 0, ns = 0;
  ASSERT_EQ(MVG::DelaunayTriangulate(n, big.data(), tb.data(), &nb), 0);
  ASSERT_EQ(MVG::DelaunayTriangulate(n, small.data(), ts.data(), &ns), 0);
  EXPECT_EQ(nb, ns);
  EXPECT_EQ(TriangleSet(tb, nb), TriangleSet(ts, ns));
}

TEST(Delaunay, CircumCircleOfCollinearPointsIsUndefined) {
  double xc = 7, yc = 7, r = 7;
  EXPECT_FALSE(MVG::DelaunayCircumCircle(0.5, 0.5, 0, 0, 1, 1, 3, 3, &xc, &yc, &r));
  EXPECT_EQ(xc, 7);
  // Equal y values are fine (a tolerance on y once refused these).
  EXPECT_TRUE(MVG::DelaunayCircumCircle(1, -5, 0, 0, 2, 0, 1, 1e-5, &xc, &yc, &r));
  EXPECT_NEAR(yc, -(1 - 1e-10) / 2e-5, 1e-3);
  EXPECT_TRUE(MVG::DelaunayCircumCircle(1, 0, 0, 0, 1, 1, 2, 0, &xc, &yc, &r));
  EXPECT_DOUBLE_EQ(xc, 1);
  EXPECT_DOUBLE_EQ(yc, 0);
  EXPECT_DOUBLE_EQ(r, 1);
  EXPECT_FALSE(MVG::DelaunayCircumCircle(3, 0, 0, 0, 1, 1, 2, 0, &xc, &yc, &r));
  EXPECT_EQ(MVG::DelaunayCompareX(&xc, &yc), 1);  // a vertex begins with its x
}

}  // namespace
