// vgl_homg_point_2d, vgl_h_matrix_2d and the Levenberg-Marquardt homography optimiser.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include <vgl/algo/vgl_h_matrix_2d.h>
#include <vgl/algo/vgl_h_matrix_2d_optimize_lmq.h>
#include <vgl/vgl_homg_point_2d.h>
#include <vnl/vnl_double_3x3.h>
#include <vnl/vnl_random.h>

namespace {

using Points = std::vector<vgl_homg_point_2d<double>>;

TEST(VglHomgPoint2d, CoordinatesAndIdealPoints) {
  const vgl_homg_point_2d<double> p(2, 4, 2), q(1, 2), inf(1, 0, 0);
  EXPECT_EQ(p.x(), 2.0);
  EXPECT_EQ(p.y(), 4.0);
  EXPECT_EQ(p.w(), 2.0);
  EXPECT_EQ(q.w(), 1.0);
  EXPECT_EQ(p, q);  // the same projective point
  EXPECT_NE(p, inf);
  EXPECT_TRUE(inf.ideal());
  EXPECT_FALSE(q.ideal());
}

TEST(VglHMatrix2d, MapsPointsAndInverts) {
  const double h[9] = {2, 0, 1, 0, 3, -1, 0.5, 0, 1};
  const vgl_h_matrix_2d<double> H(h);
  EXPECT_EQ(H.get_matrix(), vnl_double_3x3(h));
  EXPECT_EQ(vgl_h_matrix_2d<double>(vnl_double_3x3(h)), H);
  EXPECT_EQ(H.get(2, 0), 0.5);

  // (2 + 1, 3 x 2 - 1, 0.5 + 1) for the point (1, 2).
  const vgl_homg_point_2d<double> p = H(vgl_homg_point_2d<double>(1, 2));
  EXPECT_DOUBLE_EQ(p.x(), 3.0);
  EXPECT_DOUBLE_EQ(p.y(), 5.0);
  EXPECT_DOUBLE_EQ(p.w(), 1.5);

  const vgl_h_matrix_2d<double> Hinv = H.get_inverse();
  EXPECT_TRUE((Hinv * H).get_matrix().is_identity(1e-15));
  const vgl_homg_point_2d<double> back = Hinv(p);
  EXPECT_NEAR(back.x() / back.w(), 1.0, 1e-15);
  EXPECT_NEAR(back.y() / back.w(), 2.0, 1e-15);
  const vgl_homg_point_2d<double> pre = H.preimage(p);
  EXPECT_NEAR(pre.y() / pre.w(), 2.0, 1e-15);

  // Composition applies the right-hand transformation first.
  const double t[9] = {1, 0, 5, 0, 1, 0, 0, 0, 1};
  const vgl_homg_point_2d<double> composed = (vgl_h_matrix_2d<double>(t) * H)(vgl_homg_point_2d<double>(1, 2));
  EXPECT_DOUBLE_EQ(composed.x() / composed.w(), 3.0 / 1.5 + 5.0);

  double out[9];
  H.get(out);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(out[i], h[i]);
  EXPECT_TRUE(vgl_h_matrix_2d<double>().is_identity());
}

TEST(VglHMatrix2d, SingularInverseIsZero) {
  const double h[9] = {1, 2, 3, 2, 4, 6, 0, 0, 1};
  EXPECT_TRUE(vgl_h_matrix_2d<double>(h).get_inverse().get_matrix().is_zero());
}

// Board-like points in pixel units seen through a known homography.
class VglHMatrix2dOptimizeLmq : public testing::Test {
 protected:
  void SetUp() override {
    const double h[9] = {1.2, 0.1, 320, -0.05, 0.9, 240, 2e-4, -1e-4, 1};
    truth = vgl_h_matrix_2d<double>(h);
    for (int i = 0; i < 6; ++i)
      for (int j = 0; j < 5; ++j) {
        source.emplace_back(40.0 * i - 100.0, 30.0 * j - 60.0, 1.0);
        const vgl_homg_point_2d<double> q = truth(source.back());
        destination.emplace_back(q.x() / q.w(), q.y() / q.w(), 1.0);
      }
  }

  static double SquaredTransferError(const vgl_h_matrix_2d<double>& H, const Points& from, const Points& to) {
    double sum = 0;
    for (size_t i = 0; i < from.size(); ++i) {
      const vgl_homg_point_2d<double> q = H(from[i]);
      sum += std::pow(q.x() / q.w() - to[i].x(), 2) + std::pow(q.y() / q.w() - to[i].y(), 2);
    }
    return sum;
  }

  // The truth with every entry disturbed by a relative amount up to size.
  vgl_h_matrix_2d<double> Perturbed(double size, unsigned seed) const {
    vnl_random rng(seed);
    vnl_double_3x3 m = truth.get_matrix();
    for (double& v : m) v *= 1.0 + rng.drand64(-size, size);
    return vgl_h_matrix_2d<double>(m);
  }

  static vnl_double_3x3 Scaled(const vgl_h_matrix_2d<double>& H) { return H.get_matrix() / H.get(2, 2); }

  vgl_h_matrix_2d<double> truth;
  Points source, destination;
};

TEST_F(VglHMatrix2dOptimizeLmq, RecoversANoiseFreeHomography) {
  const vgl_h_matrix_2d<double> start = Perturbed(0.02, 1);
  ASSERT_GT(SquaredTransferError(start, source, destination), 1.0);
  vgl_h_matrix_2d_optimize_lmq opt(start);
  vgl_h_matrix_2d<double> H;
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  ASSERT_TRUE(opt.optimize(source, destination, H));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  const vnl_double_3x3 expected = Scaled(truth), got = Scaled(H);
  for (size_t r = 0; r < 3; ++r)
    for (size_t c = 0; c < 3; ++c)
      EXPECT_NEAR(got(r, c), expected(r, c), 1e-9 * std::max(1.0, std::abs(expected(r, c)))) << r << c;
  EXPECT_LT(SquaredTransferError(H, source, destination), 1e-12);
}

TEST_F(VglHMatrix2dOptimizeLmq, ImprovesOnItsStartWithNoise) {
  vnl_random rng(42);
  Points noisy = destination;
  for (auto& p : noisy) p.set(p.x() + 0.5 * rng.normal(), p.y() + 0.5 * rng.normal());
  const vgl_h_matrix_2d<double> start = Perturbed(0.01, 2);
  vgl_h_matrix_2d_optimize_lmq opt(start);
  vgl_h_matrix_2d<double> H;
  ASSERT_TRUE(opt.optimize(source, noisy, H));
  const double before = SquaredTransferError(start, source, noisy);
  const double after = SquaredTransferError(H, source, noisy);
  EXPECT_LT(after, before);
  // The least-squares optimum fits the noisy points at least as well as the truth does.
  EXPECT_LE(after, SquaredTransferError(truth, source, noisy) * (1 + 1e-9));
  // Homogeneous weights other than 1 describe the same points.
  Points weighted = source;
  for (auto& p : weighted) p.set(3 * p.x(), 3 * p.y(), 3);
  vgl_h_matrix_2d<double> H3;
  ASSERT_TRUE(vgl_h_matrix_2d_optimize_lmq(start).optimize(weighted, noisy, H3));
  EXPECT_NEAR(SquaredTransferError(H3, source, noisy), after, 1e-9 * after);
}

TEST_F(VglHMatrix2dOptimizeLmq, UnusableInputLeavesTheStart) {
  const vgl_h_matrix_2d<double> start = Perturbed(0.01, 3);
  const Points three(source.begin(), source.begin() + 3);
  const Points threeDst(destination.begin(), destination.begin() + 3);
  Points shorter = destination;
  shorter.pop_back();
  Points atInfinity = source;
  atInfinity[4] = vgl_homg_point_2d<double>(1, 1, 0);
  const Points coincident(source.size(), vgl_homg_point_2d<double>(5, 5, 1));
  struct Case {
    const char* what;
    const Points& from;
    const Points& to;
  } cases[] = {
      {"fewer than four", three, threeDst},
      {"unequal counts", source, shorter},
      {"point at infinity", atInfinity, destination},
      {"no spread", source, coincident},
  };
  for (const Case& c : cases) {
    vgl_h_matrix_2d<double> H = truth;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(vgl_h_matrix_2d_optimize_lmq(start).optimize(c.from, c.to, H)) << c.what;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << c.what;
    EXPECT_EQ(H, start) << c.what;
  }
}

}  // namespace
