// vnl_svd against Eigen and against the defining identities, in VXL's layout and order.
#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <cmath>

#include <vnl/algo/vnl_svd.h>
#include <vnl/vnl_double_3x3.h>
#include <vnl/vnl_matrix.h>
#include <vnl/vnl_matrix_fixed.h>
#include <vnl/vnl_random.h>
#include <vnl/vnl_vector.h>

namespace {

using RowMat = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;

RowMat ToEigen(const vnl_matrix<double>& m) {
  return Eigen::Map<const RowMat>(m.data_block(), Eigen::Index(m.rows()), Eigen::Index(m.cols()));
}

vnl_matrix<double> RandomMatrix(vnl_random& rng, size_t r, size_t c) {
  vnl_matrix<double> m(r, c);
  for (double& v : m) v = rng.drand64(-1.0, 1.0);
  return m;
}

// An r x c matrix of the given rank: a product of random r x rank and rank x c factors.
vnl_matrix<double> RankMatrix(vnl_random& rng, size_t r, size_t c, size_t rank) {
  return RandomMatrix(rng, r, rank) * RandomMatrix(rng, rank, c);
}

struct Shape {
  size_t rows, cols, rank;
};

class VnlSvdShapes : public testing::TestWithParam<Shape> {};

TEST_P(VnlSvdShapes, DecomposesInVxlLayout) {
  const Shape s = GetParam();
  vnl_random rng(unsigned(100 * s.rows + 10 * s.cols + s.rank));
  const vnl_matrix<double> M = RankMatrix(rng, s.rows, s.cols, s.rank);
  const vnl_svd<double> svd(M, 1e-10);

  ASSERT_EQ(svd.U().rows(), s.rows);
  ASSERT_EQ(svd.U().cols(), s.cols);
  ASSERT_EQ(svd.W().size(), s.cols);
  ASSERT_EQ(svd.V().rows(), s.cols);
  ASSERT_EQ(svd.V().cols(), s.cols);
  EXPECT_EQ(svd.rank(), s.rank);

  const Eigen::VectorXd expected = Eigen::JacobiSVD<RowMat>(ToEigen(M)).singularValues();
  for (unsigned i = 0; i < s.cols; ++i) {
    if (i > 0) {
      EXPECT_GE(svd.W(i - 1), svd.W(i)) << "descending";
    }
    EXPECT_GE(svd.W(i), 0.0);
    const double e = i < expected.size() && i < s.rank ? expected[i] : 0.0;
    EXPECT_NEAR(svd.W(i), e, 1e-10) << i;
  }
  EXPECT_LT((ToEigen(svd.recompose()) - ToEigen(M)).norm(), 1e-10);
  EXPECT_LT((ToEigen(svd.U() * svd.W() * svd.V().transpose()) - ToEigen(M)).norm(), 1e-10);
  EXPECT_LT((ToEigen(svd.V()).transpose() * ToEigen(svd.V()) - RowMat::Identity(Eigen::Index(s.cols), Eigen::Index(s.cols))).norm(), 1e-12);
  const Eigen::Index k = Eigen::Index(std::min(s.rows, s.cols));
  const RowMat Uk = ToEigen(svd.U()).leftCols(k);
  EXPECT_LT((Uk.transpose() * Uk - RowMat::Identity(k, k)).norm(), 1e-12);

  // The null vector spans the kernel of a rank-deficient or wide matrix.
  if (s.rank < s.cols) {
    const vnl_vector<double> n = svd.nullvector();
    EXPECT_NEAR(n.magnitude(), 1.0, 1e-12);
    EXPECT_LT((M * n).magnitude(), 1e-10);
    const vnl_matrix<double> N = svd.nullspace();
    EXPECT_EQ(N.cols(), s.cols - s.rank);
    EXPECT_LT((M * N).frobenius_norm(), 1e-10);
  }

  // The pseudo-inverse agrees with Eigen's complete orthogonal decomposition.
  const RowMat expectedPinv = Eigen::CompleteOrthogonalDecomposition<RowMat>(ToEigen(M)).pseudoInverse();
  EXPECT_LT((ToEigen(svd.inverse()) - expectedPinv).norm(), 1e-8);
}

INSTANTIATE_TEST_SUITE_P(Shapes, VnlSvdShapes,
                         testing::Values(Shape{3, 3, 3}, Shape{6, 3, 3}, Shape{3, 5, 3}, Shape{8, 9, 8},
                                         Shape{4, 4, 2}, Shape{9, 9, 8}, Shape{1, 1, 1}));

TEST(VnlSvd, InverseAndSolveOfASquareSystem) {
  vnl_random rng(8);
  const vnl_matrix<double> A = RandomMatrix(rng, 4, 4) + vnl_matrix<double>(4, 4).set_identity() * 3.0;
  const vnl_svd<double> svd(A);
  EXPECT_LT((ToEigen(svd.inverse() * A) - RowMat::Identity(4, 4)).norm(), 1e-12);
  const vnl_vector<double> b{1, -2, 3, 0.5};
  const vnl_vector<double> x = svd.solve(b);
  EXPECT_LT((A * x - b).magnitude(), 1e-12);
  double out[4];
  svd.solve(b.data_block(), out);
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(out[i], x[i], 1e-15);
  EXPECT_NEAR(svd.determinant_magnitude(), std::abs(ToEigen(A).determinant()), 1e-10);
}

TEST(VnlSvd, OverdeterminedSolveIsTheLeastSquaresSolution) {
  vnl_random rng(9);
  const vnl_matrix<double> A = RandomMatrix(rng, 12, 3);
  vnl_vector<double> b(12);
  for (double& v : b) v = rng.drand64(-1, 1);
  const vnl_vector<double> x = vnl_svd<double>(A).solve(b);
  const Eigen::VectorXd expected =
      ToEigen(A).colPivHouseholderQr().solve(Eigen::Map<const Eigen::VectorXd>(b.data_block(), 12));
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(x[i], expected[i], 1e-12);
}

TEST(VnlSvd, ZeroOutToleranceDropsSmallSingularValues) {
  const double d[9] = {4, 0, 0, 0, 1e-3, 0, 0, 0, 1e-12};
  const vnl_matrix<double> D(d, 3, 3);
  EXPECT_EQ(vnl_svd<double>(D, 0.0).rank(), 3u);  // zero tolerance keeps every non-zero value
  EXPECT_EQ(vnl_svd<double>(D, 1e-10).rank(), 2u);
  EXPECT_EQ(vnl_svd<double>(D, -1e-2).rank(), 1u);  // negative: relative to the largest
  const vnl_svd<double> absolute(D, 1e-10);
  EXPECT_EQ(absolute.W(2), 0.0);
  EXPECT_NEAR(absolute.inverse()(1, 1), 1e3, 1e-9);
  EXPECT_EQ(absolute.inverse()(2, 2), 0.0);
  EXPECT_NEAR(vnl_svd<double>(D, 0.0).inverse()(2, 2), 1e12, 1e-3);
}

TEST(VnlSvd, NearestRotationOfAFixedMatrix) {
  const double r[9] = {0.36, 0.48, -0.8, -0.8, 0.6, 0.0, 0.48, 0.64, 0.6};
  vnl_double_3x3 noisy(r);
  noisy(0, 1) += 0.01;
  noisy(2, 0) -= 0.02;
  const vnl_svd<double> svd(noisy);  // the fixed matrix converts to vnl_matrix
  const vnl_double_3x3 R = svd.U() * svd.V().transpose();
  const vnl_double_3x3 RtR = R.transpose() * R;
  EXPECT_TRUE(RtR.is_identity(1e-12));
  EXPECT_NEAR((R - vnl_double_3x3(r)).frobenius_norm(), 0.0, 0.03);
}

TEST(VnlSvd, SinglePrecision) {
  const float m[6] = {3, 0, 0, 0, 0, 2};
  const vnl_svd<float> svd(vnl_matrix<float>(m, 3, 2));
  EXPECT_FLOAT_EQ(svd.W(0), 3.0f);
  EXPECT_FLOAT_EQ(svd.W(1), 2.0f);
  EXPECT_FLOAT_EQ(std::abs(svd.V()(0, 0)), 1.0f);
  EXPECT_FLOAT_EQ(svd.sigma_min(), 2.0f);
}

}  // namespace
