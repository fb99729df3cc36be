#include <gtest/gtest.h>

#include <vnl/algo/vnl_svd.h>
#include <vnl/vnl_det.h>

#include <cmath>
#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "MVG/two_view_geometry.h"

namespace {

using Mat3 = vnl_matrix_fixed<float, 3, 3>;
constexpr double kPi = 3.14159265358979323846;

Mat3 Euler(float a, float b, float c) {
  float r[9];
  RotationMatrixFromEulerXYZ(a, b, c, r);
  return Mat3(r);
}

// X2 = R X1 + T.
void Transform(const Mat3& R, const vnl_float_3& T, const float* X, float* out) {
  for (int i = 0; i < 3; ++i) out[i] = R(i, 0) * X[0] + R(i, 1) * X[1] + R(i, 2) * X[2] + T[i];
}

Mat3 CrossMatrix(const vnl_float_3& t) {
  const float m[9] = {0, -t[2], t[1], t[2], 0, -t[0], -t[1], t[0], 0};
  return Mat3(m);
}

std::vector<double> UnitNorm(const float* E) {
  double norm = 0;
  for (int i = 0; i < 9; ++i) norm += double(E[i]) * E[i];
  norm = std::sqrt(norm);
  std::vector<double> out(9);
  for (int i = 0; i < 9; ++i) out[i] = E[i] / norm;
  return out;
}

// Distance of the unit-norm matrices, either sign: an essential matrix is
// defined up to scale.
double Distance(const float* a, const float* b) {
  const auto ca = UnitNorm(a), cb = UnitNorm(b);
  double minus = 0, plus = 0;
  for (int i = 0; i < 9; ++i) {
    minus += (ca[i] - cb[i]) * (ca[i] - cb[i]);
    plus += (ca[i] + cb[i]) * (ca[i] + cb[i]);
  }
  return std::sqrt(std::min(minus, plus));
}

// A stereo rig: the first camera at the origin, the second turned a little
// and shifted along x, both with the given distortion.
struct Rig {
  MVG::Camera pair[2];
  Rig(const float* d, bool rectified) {
    pair[0] = MVG::CameraAtOrigin(812.5f, 798.0f, 331.25f, 243.5f, 640, 480);
    pair[1] = MVG::CameraAtOrigin(805.0f, 801.0f, 318.0f, 236.0f, 640, 480);
    std::memcpy(pair[0].d, d, sizeof pair[0].d);
    std::memcpy(pair[1].d, d, sizeof pair[1].d);
    if (!rectified) {
      Euler(0.02f, -0.12f, 0.03f).copy_out(pair[1].R);
      pair[1].T[0] = -0.3f;
      pair[1].T[1] = 0.01f;
      pair[1].T[2] = 0.02f;
    } else {
      pair[1].T[0] = -0.25f;
    }
  }
};

TEST(Triangulation, RecoversNearAndFarPoints) {
  const float barrel[5] = {-0.25f, 0.08f, 0.001f, -0.0015f, -0.01f};
  const float none[5] = {0, 0, 0, 0, 0};
  const float points[][3] = {{0.1f, -0.05f, 1.5f}, {-0.3f, 0.2f, 3.0f}, {0.5f, 0.3f, 8.0f}, {-1.0f, -0.8f, 20.0f}};
  enum Method { kMatlab, kRectified, kLstSqr };
  for (Method method : {kMatlab, kRectified, kLstSqr}) {
    Rig rig(method == kMatlab ? barrel : none, method == kRectified);
    for (const auto& X : points) {
      SCOPED_TRACE(testing::Message() << "method " << method << " z " << X[2]);
      float p1[2], p2[2], got[4] = {0, 0, 0, 1};
      MVG::PrjPoint3D(X, p1, &rig.pair[0]);
      MVG::PrjPoint3D(X, p2, &rig.pair[1]);
      if (method == kMatlab) {
        EXPECT_EQ(MVG::Triangulate_Matlab(p1, p2, got, rig.pair), 0);
      } else if (method == kRectified) {
        EXPECT_EQ(MVG::Triangulate_Rectified_Matlab(p1, p2, got, rig.pair), 0);
      } else {
        float P1[12], P2[12];
        MVG::MakePrjMat(&rig.pair[0], P1);
        MVG::MakePrjMat(&rig.pair[1], P2);
        EXPECT_EQ(MVG::Triangulate_LstSqr(P1, P2, p1, p2, got), 0);
        for (int i = 0; i < 3; ++i) got[i] /= got[3];
      }
      // Relative accuracy falls with depth: single precision and a short
      // baseline.
      for (int i = 0; i < 3; ++i) EXPECT_NEAR(got[i], X[i], 2e-4 * X[2] * X[2] + 1e-4) << "coordinate " << i;
    }
  }
}

TEST(RelativePose, ExtrinsicsAndEssentialMatrix) {
  MVG::Camera pair[2] = {MVG::CameraAtOrigin(800, 800, 320, 240, 640, 480),
                         MVG::CameraAtOrigin(800, 800, 320, 240, 640, 480)};
  Euler(0.1f, 0.2f, -0.3f).copy_out(pair[0].R);
  Euler(-0.2f, 0.15f, 0.05f).copy_out(pair[1].R);
  const float T1[3] = {0.5f, -0.2f, 4.0f}, T2[3] = {-0.1f, 0.3f, 4.5f};
  std::memcpy(pair[0].T, T1, sizeof T1);
  std::memcpy(pair[1].T, T2, sizeof T2);
  Mat3 R;
  vnl_float_3 T;
  EXPECT_EQ(MVG::RelativeExtrinsics(pair, &R, &T), 0);
  float E[9];
  EXPECT_EQ(MVG::GetEssentialMatrix(&pair[0], &pair[1], E), 0);
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  for (int k = 0; k < 10; ++k) {
    const float W[3] = {u(rng), u(rng), u(rng)};
    float X1[3], X2[3], viaWorld[3];
    Transform(Mat3(pair[0].R), vnl_float_3(T1[0], T1[1], T1[2]), W, X1);
    Transform(Mat3(pair[1].R), vnl_float_3(T2[0], T2[1], T2[2]), W, X2);
    Transform(R, T, X1, viaWorld);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(viaWorld[i], X2[i], 1e-5);
    const float x1[3] = {X1[0] / X1[2], X1[1] / X1[2], 1}, x2[3] = {X2[0] / X2[2], X2[1] / X2[2], 1};
    double r = 0;
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) r += x2[i] * E[3 * i + j] * x1[j];
    EXPECT_NEAR(r, 0.0, 1e-5);
  }
  // Equal poses: no baseline, E = 0.
  EXPECT_EQ(MVG::GetEssentialMatrix(&pair[0], &pair[0], E), 0);
  for (float e : E) EXPECT_NEAR(e, 0.0f, 1e-6f);
}

// Normalised correspondences of random points in front of both cameras.
struct Correspondences {
  Mat3 R;
  vnl_float_3 t;
  float E[9];
  std::vector<float> x1, x2;
  Correspondences(int n, unsigned seed, const Mat3& R_ = Euler(0.05f, -0.2f, 0.1f),
                  const vnl_float_3& t_ = vnl_float_3(-1.0f, 0.1f, 0.2f), float spread = 1.0f)
      : R(R_), t(t_) {
    (CrossMatrix(t) * R).copy_out(E);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> u(-spread, spread), depth(2.0f, 8.0f);
    while (static_cast<int>(x1.size()) < 2 * n) {
      const float z = depth(rng);
      const float X[3] = {u(rng) * z, u(rng) * z, z};
      float Y[3];
      Transform(R, t, X, Y);
      if (Y[2] < 0.5f) continue;
      x1.insert(x1.end(), {X[0] / X[2], X[1] / X[2]});
      x2.insert(x2.end(), {Y[0] / Y[2], Y[1] / Y[2]});
    }
  }
};

void ExpectRankTwoWithEqualSingularValues(const float* E) {
  const vnl_svd<float> svd(vnl_matrix<float>(E, 3, 3));
  EXPECT_NEAR(svd.W(0), svd.W(1), 1e-5 * svd.W(0));
  EXPECT_NEAR(svd.W(2), 0.0f, 1e-5 * svd.W(0));
}

TEST(EightPoint, ExactCorrespondencesGiveTheTrueMatrix) {
  for (int n : {8, 20}) {
    Correspondences c(n, 11 + n);
    float E[9];
    ASSERT_EQ(MVG::EssentialMatrixComputeLinear8Point(c.x1.data(), c.x2.data(), n, E), 0);
    EXPECT_LT(Distance(E, c.E), 1e-3) << n;
    ExpectRankTwoWithEqualSingularValues(E);

    // Status form: bytes 0 and 2 leave a correspondence out; spoiling those
    // pairs must not change the estimate.
    std::vector<char> status(static_cast<size_t>(n), 1);
    std::vector<float> x2 = c.x2;
    if (n == 20)
      for (int i : {3, 7, 12}) {
        status[static_cast<size_t>(i)] = i == 7 ? 2 : 0;
        x2[2 * i] += 0.3f;
      }
    float Es[9], Ep[9];
    ASSERT_EQ(MVG::EssentialMatrixComputeLinear8Point(c.x1.data(), x2.data(), n, status.data(), Es), 0);
    EXPECT_LT(Distance(Es, c.E), 1e-3);
    auto* p1 = reinterpret_cast<CvPoint2D32f*>(c.x1.data());
    auto* p2 = reinterpret_cast<CvPoint2D32f*>(x2.data());
    ASSERT_EQ(MVG::EssentialMatrixComputeLinear8Point(p1, p2, n, status.data(), Ep), 0);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(Ep[i], Es[i]);
  }
}

TEST(EightPoint, FewerThanEightUsedReturnsMinusOne) {
  Correspondences c(10, 3);
  std::vector<char> status(10, 1);
  status[0] = 0;
  status[4] = 2;
  status[9] = 0;  // seven bytes equal to 1
  float E[9], Ep[9];
  std::fill(E, E + 9, 42.0f);
  std::fill(Ep, Ep + 9, 42.0f);
  EXPECT_EQ(MVG::EssentialMatrixComputeLinear8Point(c.x1.data(), c.x2.data(), 10, status.data(), E), -1);
  EXPECT_EQ(MVG::EssentialMatrixComputeLinear8Point(reinterpret_cast<CvPoint2D32f*>(c.x1.data()),
                                                    reinterpret_cast<CvPoint2D32f*>(c.x2.data()), 10, status.data(),
                                                    Ep),
            -1);
  EXPECT_EQ(MVG::EssentialMatrixComputeLinear8Point(c.x1.data(), c.x2.data(), 7, E), -1);
  EXPECT_EQ(MVG::EssentialMatrixComputeLinear8Point(c.x1.data(), c.x2.data(), 0, E), -1);
  for (int i = 0; i < 9; ++i) {
    EXPECT_EQ(E[i], 42.0f);
    EXPECT_EQ(Ep[i], 42.0f);
  }
}

class Ransac : public testing::Test {
 protected:
  void TearDown() override { MVG::SetRansacSeedForTesting(0); }
};

TEST_F(Ransac, KeepsTrueInliersUnderGrossOutliers) {
  const int n = 100, outliers = 30;
  double keptShare = 0, distance = 0;
  const int runs = 50;
  for (int seed = 1; seed <= runs; ++seed) {
    Correspondences c(n, 1000);  // one geometry, fixed
    std::mt19937 rng(77);
    std::normal_distribution<float> noise(0.0f, 1e-4f);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    for (float& v : c.x1) v += noise(rng);
    for (float& v : c.x2) v += noise(rng);
    for (int i = 0; i < outliers; ++i) {  // the first 30 replaced by random points
      c.x2[2 * i] = u(rng);
      c.x2[2 * i + 1] = u(rng);
    }
    std::vector<char> status(n, 1);
    float E[9];
    MVG::SetRansacSeedForTesting(static_cast<unsigned long>(seed));
    ASSERT_EQ(MVG::EssentialMatrixComputeRANSAC8Point(c.x1.data(), c.x2.data(), n, status.data(), E, 4e-7f), 0);
    int kept = 0;
    for (int i = outliers; i < n; ++i) kept += status[static_cast<size_t>(i)];
    keptShare += double(kept) / (n - outliers);
    distance += Distance(E, c.E);
  }
  EXPECT_GE(keptShare / runs, 0.7);
  EXPECT_LT(distance / runs, 0.01);
}

TEST_F(Ransac, ExactDataSeparatesInliersWithTheDefaultBound) {
  // The default bound of 1.5 (squared) is meant for pixel-sized units. A
  // forward motion with a turn about the optical axis keeps E essential when
  // both images are scaled by 20 (diag(1/20, 1/20, 1) E diag(1/20, 1/20, 1)
  // is E / 400), so the scaled points have the same E. The outliers lie at
  // least 8 scaled units from their true epipolar lines in both images.
  const int n = 60;
  Correspondences c(n, 21, Euler(0.0f, 0.0f, 0.1f), vnl_float_3(0.0f, 0.0f, 1.0f), 1.0f);
  for (float& v : c.x1) v *= 20.0f;
  for (float& v : c.x2) v *= 20.0f;
  std::mt19937 rng(9);
  std::uniform_real_distribution<float> u(-40.0f, 40.0f);
  std::vector<char> truth(n, 1);
  for (int i = 0; i < n; i += 4) {
    for (;;) {
      const float a[2] = {u(rng), u(rng)}, b[2] = {u(rng), u(rng)};
      const float x1[3] = {a[0], a[1], 1}, x2[3] = {b[0], b[1], 1};
      float l2[3], l1[3];
      for (int r = 0; r < 3; ++r) {
        l2[r] = c.E[3 * r] * x1[0] + c.E[3 * r + 1] * x1[1] + c.E[3 * r + 2];
        l1[r] = c.E[r] * x2[0] + c.E[3 + r] * x2[1] + c.E[6 + r];
      }
      const float res = x2[0] * l2[0] + x2[1] * l2[1] + l2[2];
      if (res * res < 64 * (l2[0] * l2[0] + l2[1] * l2[1]) || res * res < 64 * (l1[0] * l1[0] + l1[1] * l1[1])) continue;
      c.x1[2 * i] = a[0];
      c.x1[2 * i + 1] = a[1];
      c.x2[2 * i] = b[0];
      c.x2[2 * i + 1] = b[1];
      truth[static_cast<size_t>(i)] = 0;
      break;
    }
  }
  for (unsigned long seed = 1; seed <= 12; ++seed) {
    MVG::SetRansacSeedForTesting(seed);
    std::vector<char> status(n, 1);
    float E[9];
    ASSERT_EQ(MVG::EssentialMatrixComputeRANSAC8Point(c.x1.data(), c.x2.data(), n, status.data(), E), 0);
    EXPECT_EQ(status, truth) << seed;
    EXPECT_LT(Distance(E, c.E), 1e-3) << seed;
  }
}

TEST_F(Ransac, SamplerReachesTheLastIndexAndRefusesTooFewCandidates) {
  Correspondences c(9, 31);
  MVG::SetRansacSeedForTesting(8);
  // Only indices 1 to 8 may be drawn: every sample must use index 8, and the
  // unsampled correspondence 0 still ends as an inlier.
  std::vector<char> status(9, 1);
  status[0] = 0;
  float E[9];
  ASSERT_EQ(MVG::EssentialMatrixComputeRANSAC8Point(c.x1.data(), c.x2.data(), 9, status.data(), E, 1e-6f), 0);
  EXPECT_EQ(status, std::vector<char>(9, 1));
  EXPECT_LT(Distance(E, c.E), 1e-3);

  // Seven candidates: refused at once, nothing written.
  std::vector<char> seven(9, 1);
  seven[2] = seven[5] = 0;
  const std::vector<char> before = seven;
  std::fill(E, E + 9, 42.0f);
  EXPECT_EQ(MVG::EssentialMatrixComputeRANSAC8Point(c.x1.data(), c.x2.data(), 9, seven.data(), E), -1);
  EXPECT_EQ(seven, before);
  for (float e : E) EXPECT_EQ(e, 42.0f);
}

TEST_F(Ransac, NoModelWithEnoughInliersClearsStatus) {
  // Unrelated random pairs and a tiny bound: no sample explains nine pairs.
  const int n = 30;
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  std::vector<float> x1(2 * n), x2(2 * n);
  for (float& v : x1) v = u(rng);
  for (float& v : x2) v = u(rng);
  std::vector<char> status(n, 1);
  float E[9];
  std::fill(E, E + 9, 42.0f);
  MVG::SetRansacSeedForTesting(12);
  EXPECT_EQ(MVG::EssentialMatrixComputeRANSAC8Point(x1.data(), x2.data(), n, status.data(), E, 1e-12f), -1);
  EXPECT_EQ(status, std::vector<char>(n, 0));
  EXPECT_NE(E[0], 42.0f);  // the last sample's model
}

TEST(Decomposition, RecoversRotationAndTranslationDirection) {
  struct Case {
    const char* name;
    vnl_float_3 t;
  } cases[] = {{"forward", vnl_float_3(0, 0, 1)},
               {"sideways", vnl_float_3(1, 0, 0)},
               {"diagonal", vnl_float_3(1, 1, 1)}};
  std::mt19937 rng(123);
  std::uniform_real_distribution<float> angle(-0.4f, 0.4f);
  int reflections = 0;
  for (const Case& k : cases)
    for (int trial = 0; trial < 40; ++trial)
      for (float sign : {1.0f, -1.0f}) {
        SCOPED_TRACE(testing::Message() << k.name << " trial " << trial << " sign " << sign);
        const Mat3 Rt = Euler(angle(rng), angle(rng), angle(rng));
        const vnl_float_3 tt = k.t / k.t.magnitude();
        Mat3 E = CrossMatrix(tt) * Rt * sign;  // either sign of E is the same geometry
        const vnl_svd<float> svd(E.as_matrix());
        const Mat3 U(svd.U()), V(svd.V());
        if (vnl_det(U[0], U[1], U[2]) < 0 || vnl_det(V[0], V[1], V[2]) < 0) ++reflections;

        const float X[3] = {0.2f, -0.1f, 4.0f};
        float Y[3];
        Transform(Rt, tt, X, Y);
        ASSERT_GT(Y[2], 0);
        const float x1[2] = {X[0] / X[2], X[1] / X[2]}, x2[2] = {Y[0] / Y[2], Y[1] / Y[2]};
        Mat3 R;
        vnl_float_3 t;
        ASSERT_EQ(MVG::DecomposeEssentialMatrix(E, R, t, x1, x2), 1);
        EXPECT_NEAR(vnl_det(R[0], R[1], R[2]), 1.0f, 1e-4f);
        for (int i = 0; i < 3; ++i) {
          for (int j = 0; j < 3; ++j) EXPECT_NEAR(R(i, j), Rt(i, j), 1e-4f);
          EXPECT_NEAR(t[i], tt[i], 1e-4f);
        }
      }
  // The table has reached the reflected decompositions the fix is for.
  EXPECT_GT(reflections, 0);
}

TEST(Euler, MatchesRzRyRx) {
  float R[9];
  RotationMatrixFromEulerXYZ(0, 0, 0, R);
  for (int i = 0; i < 9; ++i) EXPECT_FLOAT_EQ(R[i], i % 4 == 0 ? 1.0f : 0.0f);
  RotationMatrixFromEulerXYZ(0, 0, static_cast<float>(kPi / 2), R);
  // The x axis turns into the y axis.
  EXPECT_NEAR(R[0], 0, 1e-7);
  EXPECT_NEAR(R[3], 1, 1e-7);
  EXPECT_NEAR(R[6], 0, 1e-7);
  std::mt19937 rng(4);
  std::uniform_real_distribution<double> u(-kPi, kPi);
  for (int k = 0; k < 20; ++k) {
    const double a = u(rng), b = u(rng), c = u(rng);
    const double Rx[9] = {1, 0, 0, 0, std::cos(a), -std::sin(a), 0, std::sin(a), std::cos(a)};
    const double Ry[9] = {std::cos(b), 0, std::sin(b), 0, 1, 0, -std::sin(b), 0, std::cos(b)};
    const double Rz[9] = {std::cos(c), -std::sin(c), 0, std::sin(c), std::cos(c), 0, 0, 0, 1};
    double ZY[9], want[9];
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) {
        ZY[3 * i + j] = 0;
        for (int m = 0; m < 3; ++m) ZY[3 * i + j] += Rz[3 * i + m] * Ry[3 * m + j];
      }
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) {
        want[3 * i + j] = 0;
        for (int m = 0; m < 3; ++m) want[3 * i + j] += ZY[3 * i + m] * Rx[3 * m + j];
      }
    RotationMatrixFromEulerXYZ(static_cast<float>(a), static_cast<float>(b), static_cast<float>(c), R);
    for (int i = 0; i < 9; ++i) EXPECT_NEAR(R[i], want[i], 1e-6);
  }
}

TEST(FitPlane, HorizontalTiltedAndTooFew) {
  std::vector<float> flat;
  for (int i = 0; i < 10; ++i) flat.insert(flat.end(), {float(i % 4), float(i / 4) * 1.5f, 5.0f});
  float plane[4];
  ASSERT_EQ(FitPlane(flat.data(), 10, plane), 0);
  const float s = plane[2] > 0 ? 1.0f : -1.0f;
  EXPECT_NEAR(plane[0], 0, 1e-5);
  EXPECT_NEAR(plane[1], 0, 1e-5);
  EXPECT_NEAR(plane[2] * s, 1, 1e-5);
  EXPECT_NEAR(plane[3] * s, -5, 1e-4);

  // z = 0.3 x - 0.2 y + 2 with noise: normal (0.3, -0.2, -1) normalised.
  std::mt19937 rng(6);
  std::uniform_real_distribution<float> u(-3.0f, 3.0f);
  std::normal_distribution<float> noise(0.0f, 1e-3f);
  std::vector<float> tilted;
  for (int i = 0; i < 200; ++i) {
    const float x = u(rng), y = u(rng);
    tilted.insert(tilted.end(), {x, y, 0.3f * x - 0.2f * y + 2.0f + noise(rng)});
  }
  ASSERT_EQ(FitPlane(tilted.data(), 200, plane), 0);
  const double norm = std::sqrt(0.09 + 0.04 + 1.0);
  const double want[4] = {0.3 / norm, -0.2 / norm, -1.0 / norm, 2.0 / norm};
  const double sign = plane[2] < 0 ? 1 : -1;
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(plane[i] * sign, want[i], 1e-3) << i;

  float untouched[4] = {9, 9, 9, 9};
  EXPECT_EQ(FitPlane(flat.data(), 2, untouched), -1);
  EXPECT_EQ(FitPlane(flat.data(), 0, untouched), -1);
  for (float v : untouched) EXPECT_EQ(v, 9.0f);
}

TEST(IntersectRaysWithPlane, PosedCameraGetsItsPointsBack) {
  MVG::Camera cam = MVG::CameraAtOrigin(700, 690, 320, 240, 640, 480);
  const float d[5] = {-0.2f, 0.05f, 0.001f, 0.0f, 0.0f};
  std::memcpy(cam.d, d, sizeof d);
  // Looking down the world z axis from z = -1, turned a little.
  const Mat3 R = Euler(0.1f, -0.05f, 0.2f);
  R.copy_out(cam.R);
  const float C[3] = {0.3f, -0.2f, -1.0f};
  for (int i = 0; i < 3; ++i) cam.T[i] = -(R(i, 0) * C[0] + R(i, 1) * C[1] + R(i, 2) * C[2]);
  std::vector<float> world, pixels(8);
  for (int i = 0; i < 4; ++i) world.insert(world.end(), {-0.8f + 0.5f * i, 0.6f - 0.4f * i, 5.0f});
  MVG::PrjPoint3D(world.data(), pixels.data(), &cam, 4);
  float plane[4] = {0, 0, 1, -5};
  std::vector<float> got(12);
  EXPECT_EQ(MVG::IntersectRaysWithPlane(pixels.data(), got.data(), 4, plane, &cam), 0);
  for (int i = 0; i < 12; ++i) EXPECT_NEAR(got[i], world[i], 1e-3) << i;

  // The plane behind the camera, and a plane the ray runs along.
  float behind[4] = {0, 0, 1, 5};
  EXPECT_EQ(MVG::IntersectRaysWithPlane(pixels.data(), got.data(), 1, behind, &cam), -1);
  EXPECT_TRUE(std::isnan(got[0]));
  MVG::Camera origin = MVG::CameraAtOrigin(700, 700, 320, 240, 640, 480);
  float centre[2] = {320, 240};
  float along[4] = {0, 1, 0, -1};  // y = 1, parallel to the optical axis
  float out[3] = {0, 0, 0};
  EXPECT_EQ(MVG::IntersectRaysWithPlane(centre, out, 1, along, &origin), -1);
  for (float v : out) EXPECT_TRUE(std::isnan(v));
}

}  // namespace
