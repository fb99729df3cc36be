// Vectors, matrices, products, determinants, cross products and random numbers of the vnl
// subset, against Eigen or hand-computed values.
#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <cmath>
#include <set>
#include <vector>

#include <vnl/vnl_cross.h>
#include <vnl/vnl_det.h>
#include <vnl/vnl_diag_matrix.h>
#include <vnl/vnl_double_3.h>
#include <vnl/vnl_double_3x3.h>
#include <vnl/vnl_float_3.h>
#include <vnl/vnl_matrix.h>
#include <vnl/vnl_matrix_fixed.h>
#include <vnl/vnl_random.h>
#include <vnl/vnl_transpose.h>
#include <vnl/vnl_vector.h>
#include <vnl/vnl_vector_fixed.h>

namespace {

using RowMat = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;

template <class M>
RowMat ToEigen(const M& m) {
  return Eigen::Map<const RowMat>(m.data_block(), Eigen::Index(m.rows()), Eigen::Index(m.cols()));
}
template <class V>
Eigen::VectorXd ToEigenVec(const V& v) {
  return Eigen::Map<const Eigen::VectorXd>(v.data_block(), Eigen::Index(v.size()));
}

vnl_matrix<double> RandomMatrix(vnl_random& rng, size_t r, size_t c) {
  vnl_matrix<double> m(r, c);
  for (double& v : m) v = rng.drand64(-2.0, 2.0);
  return m;
}

TEST(VnlMatrixFixed, StorageIsRowMajorAndAccessorsAgree) {
  const double values[6] = {1, 2, 3, 4, 5, 6};
  vnl_matrix_fixed<double, 2, 3> m(values);
  EXPECT_EQ(m(0, 2), 3.0);
  EXPECT_EQ(m[1][0], 4.0);
  EXPECT_EQ(m.get(1, 2), 6.0);
  m.put(1, 1, 50.0);
  EXPECT_EQ(m.data_block()[4], 50.0);
  m[0][1] = 20.0;
  EXPECT_EQ(m(0, 1), 20.0);
  EXPECT_EQ(m.rows(), 2u);
  EXPECT_EQ(m.cols(), 3u);
  EXPECT_EQ(m.get_row(1), (vnl_vector_fixed<double, 3>(4, 50, 6)));
  EXPECT_EQ(m.get_column(2), (vnl_vector_fixed<double, 2>(3, 6)));

  vnl_double_3x3 z;
  for (double v : z) EXPECT_EQ(v, 0.0);
  z.fill(7.0);
  for (double v : z) EXPECT_EQ(v, 7.0);
  z.set_identity();
  EXPECT_TRUE(z.is_identity());
  EXPECT_EQ(z(0, 1), 0.0);
  EXPECT_EQ(z(2, 2), 1.0);
}

TEST(VnlMatrix, StorageIsRowMajorAndResizeClears) {
  const double values[6] = {1, 2, 3, 4, 5, 6};
  vnl_matrix<double> m(values, 3, 2);
  EXPECT_EQ(m(2, 0), 5.0);
  EXPECT_EQ(m[1][1], 4.0);
  EXPECT_EQ(m.get_column(1), (vnl_vector<double>{2, 4, 6}));
  EXPECT_EQ(m.extract(2, 1, 1, 1), vnl_matrix<double>(std::vector<double>{4, 6}.data(), 2, 1));
  m.set_size(2, 2);
  EXPECT_TRUE(m.is_zero());
  vnl_matrix<double> filled(2, 3, 1.5);
  EXPECT_EQ(filled.max_value(), 1.5);
  EXPECT_EQ(filled.min_value(), 1.5);
}

TEST(VnlMatrix, FixedAndDynamicConvertBothWays) {
  vnl_random rng(7);
  const vnl_matrix<double> d = RandomMatrix(rng, 3, 3);
  const vnl_double_3x3 f(d);
  EXPECT_EQ(vnl_matrix<double>(f), d);
  EXPECT_EQ(f.as_matrix(), d);
  vnl_double_3 v(1, 2, 3);
  const vnl_vector<double> dv = v;
  EXPECT_EQ(vnl_double_3(dv), v);
}

TEST(VnlProducts, AgreeWithEigen) {
  vnl_random rng(11);
  const vnl_matrix<double> a = RandomMatrix(rng, 5, 3), b = RandomMatrix(rng, 3, 7);
  const vnl_vector<double> x(std::vector<double>{0.5, -1.5, 2.0}.data(), 3);
  const vnl_vector<double> y(std::vector<double>{1, 2, 3, 4, 5}.data(), 5);
  EXPECT_LT((ToEigen(a * b) - ToEigen(a) * ToEigen(b)).norm(), 1e-12);
  EXPECT_LT((ToEigenVec(a * x) - ToEigen(a) * ToEigenVec(x)).norm(), 1e-12);
  EXPECT_LT((ToEigenVec(y * a) - ToEigen(a).transpose() * ToEigenVec(y)).norm(), 1e-12);
  EXPECT_LT((ToEigenVec(vnl_transpose(a) * y) - ToEigen(a).transpose() * ToEigenVec(y)).norm(), 1e-12);
  EXPECT_EQ(ToEigen(a.transpose()), ToEigen(a).transpose());
  EXPECT_LT((ToEigen(a + a * 2.0 - 0.5 * a) - 2.5 * ToEigen(a)).norm(), 1e-12);
  EXPECT_LT((ToEigen(a / 4.0 + 1.0) - (ToEigen(a) / 4.0 + RowMat::Ones(5, 3))).norm(), 1e-12);

  const vnl_matrix_fixed<double, 3, 3> f(RandomMatrix(rng, 3, 3));
  const vnl_matrix_fixed<double, 3, 4> g(RandomMatrix(rng, 3, 4));
  const vnl_double_3 v(0.25, -4.0, 1.0);
  EXPECT_LT((ToEigen(f * g) - ToEigen(f) * ToEigen(g)).norm(), 1e-12);
  EXPECT_LT((ToEigenVec(f * v) - ToEigen(f) * ToEigenVec(v)).norm(), 1e-12);
  EXPECT_LT((ToEigenVec(v * f) - ToEigen(f).transpose() * ToEigenVec(v)).norm(), 1e-12);
  EXPECT_EQ(ToEigen(g.transpose()), ToEigen(g).transpose());
  EXPECT_LT((ToEigen(f * b) - ToEigen(f) * ToEigen(b)).norm(), 1e-12);  // fixed times dynamic
  vnl_double_3x3 h = f;
  h *= f;
  EXPECT_LT((ToEigen(h) - ToEigen(f) * ToEigen(f)).norm(), 1e-12);
  h.inplace_transpose();
  EXPECT_LT((ToEigen(h) - (ToEigen(f) * ToEigen(f)).transpose()).norm(), 1e-12);
}

TEST(VnlVector, NormsAndNormalisation) {
  vnl_double_3 v(3, 4, 12);
  EXPECT_DOUBLE_EQ(v.magnitude(), 13.0);
  EXPECT_DOUBLE_EQ(v.squared_magnitude(), 169.0);
  EXPECT_DOUBLE_EQ(v.one_norm(), 19.0);
  EXPECT_DOUBLE_EQ(v.inf_norm(), 12.0);
  v.normalize();
  EXPECT_NEAR(v.magnitude(), 1.0, 1e-15);
  EXPECT_NEAR(v[1], 4.0 / 13.0, 1e-15);

  vnl_float_3 zero(0.0f);
  zero.normalize();
  EXPECT_TRUE(zero.is_zero());  // no NaN from 0 / 0

  vnl_vector<double> d{1, 2, 2, 4};
  EXPECT_DOUBLE_EQ(d.rms(), std::sqrt(25.0 / 4.0));
  EXPECT_DOUBLE_EQ(d.magnitude(), 5.0);
  EXPECT_EQ(d.extract(2, 1), (vnl_vector<double>{2, 2}));
  EXPECT_DOUBLE_EQ(d.mean(), 2.25);
}

TEST(VnlCross, RightHandedAndAgreesWithEigen) {
  const vnl_double_3 ex(1, 0, 0), ey(0, 1, 0), ez(0, 0, 1);
  EXPECT_EQ(vnl_cross_3d(ex, ey), ez);
  EXPECT_EQ(vnl_cross_3d(ey, ez), ex);
  EXPECT_EQ(vnl_cross_3d(ey, ex), -ez);

  vnl_random rng(3);
  for (int i = 0; i < 10; ++i) {
    const vnl_double_3 a(rng.drand64(-1, 1), rng.drand64(-1, 1), rng.drand64(-1, 1));
    const vnl_double_3 b(rng.drand64(-1, 1), rng.drand64(-1, 1), rng.drand64(-1, 1));
    const Eigen::Vector3d e = Eigen::Vector3d(a.data_block()).cross(Eigen::Vector3d(b.data_block()));
    EXPECT_LT((ToEigenVec(vnl_cross_3d(a, b)) - e).norm(), 1e-15);
    EXPECT_LT((ToEigenVec(vnl_cross_3d(a.as_vector(), b.as_vector())) - e).norm(), 1e-15);
    EXPECT_NEAR(dot_product(a, b), Eigen::Vector3d(a.data_block()).dot(Eigen::Vector3d(b.data_block())), 1e-15);
    EXPECT_NEAR(dot_product(vnl_cross_3d(a, b), a), 0.0, 1e-15);
  }
  EXPECT_EQ(vnl_cross_2d(vnl_vector_fixed<double, 2>(1, 0), vnl_vector_fixed<double, 2>(0, 1)), 1.0);
}

TEST(VnlDet, ClosedFormsAndEliminationAgreeWithEigen) {
  vnl_random rng(5);
  for (size_t n : {2u, 3u, 4u, 6u}) {
    const vnl_matrix<double> m = RandomMatrix(rng, n, n);
    EXPECT_NEAR(vnl_det(m), ToEigen(m).determinant(), 1e-12) << n;
  }
  const vnl_double_3x3 f(RandomMatrix(rng, 3, 3));
  EXPECT_NEAR(vnl_det(f), ToEigen(f).determinant(), 1e-12);
  const double rows[9] = {2, 0, 0, 0, 3, 0, 0, 0, 4};
  EXPECT_EQ(vnl_det(vnl_double_3x3(rows)), 24.0);
  EXPECT_EQ(vnl_det(rows, rows + 3, rows + 6), 24.0);

  vnl_matrix<double> singular = RandomMatrix(rng, 5, 5);
  singular.set_row(4, singular.get_row(0) * 2.0 - singular.get_row(1));
  EXPECT_NEAR(vnl_det(singular), 0.0, 1e-12);
  EXPECT_EQ(vnl_det(vnl_matrix<double>(2, 3)), 0.0);  // not square
}

TEST(VnlDiagMatrix, ScalesRowsOrColumns) {
  vnl_diag_matrix<double> d(vnl_vector<double>{2, 3});
  const double values[4] = {1, 1, 1, 1};
  const vnl_matrix<double> m(values, 2, 2);
  EXPECT_EQ((m * d)(0, 1), 3.0);
  EXPECT_EQ((d * m)(1, 0), 3.0);
  EXPECT_EQ(d(0, 1), 0.0);
  EXPECT_EQ(d.determinant(), 6.0);
}

TEST(VnlRandom, SameSeedSameSequence) {
  vnl_random a(12345), b(12345), c(54321);
  bool differs = false;
  for (int i = 0; i < 100; ++i) {
    const unsigned long va = a.lrand32();
    EXPECT_EQ(va, b.lrand32());
    differs |= va != c.lrand32();
  }
  EXPECT_TRUE(differs);
  a.reseed(99);
  b.reseed(99);
  EXPECT_EQ(a.normal(), b.normal());
  EXPECT_EQ(a.drand64(), b.drand64());
}

TEST(VnlRandom, ClockSeededGeneratorsDiffer) {
  vnl_random a, b;
  bool differs = false;
  for (int i = 0; i < 4; ++i) differs |= a.lrand32() != b.lrand32();
  EXPECT_TRUE(differs);
}

TEST(VnlRandom, DrawsStayInTheirRanges) {
  vnl_random rng(1);
  std::set<int> seen;
  for (int i = 0; i < 2000; ++i) {
    const double u32 = rng.drand32(), u64 = rng.drand64(-3.0, 5.0);
    EXPECT_GE(u32, 0.0);
    EXPECT_LT(u32, 1.0);
    EXPECT_GE(u64, -3.0);
    EXPECT_LT(u64, 5.0);
    EXPECT_LE(rng.lrand32(9ul), 9ul);
    const int k = rng.lrand32(-2, 2);
    EXPECT_GE(k, -2);
    EXPECT_LE(k, 2);
    seen.insert(k);
  }
  EXPECT_EQ(seen.size(), 5u);  // both ends are reachable
}

TEST(VnlRandom, NormalHasUnitVarianceAndZeroMean) {
  vnl_random rng(2024);
  const int n = 40000;
  for (bool wide : {false, true}) {
    double sum = 0, sum2 = 0;
    for (int i = 0; i < n; ++i) {
      const double v = wide ? rng.normal64() : rng.normal();
      sum += v;
      sum2 += v * v;
    }
    const double mean = sum / n;
    EXPECT_NEAR(mean, 0.0, 0.03);
    EXPECT_NEAR(sum2 / n - mean * mean, 1.0, 0.03);
  }
}

}  // namespace
