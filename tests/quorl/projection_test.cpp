// The lens model through both camera forms: CCamera (double) and MVG::Camera
// (float) must agree on projection, normalisation and undistortion.
#include <gtest/gtest.h>

#include <cmath>

#include "MVG/camera.h"
#include "MVG/mvg_camera.h"
#include "camera_fixtures.h"

namespace {

using namespace camera_fixtures;

MVG::Camera ToMvg(const CCamera& c) {
  MVG::Camera m{};
  for (int i = 0; i < 5; ++i) m.d[i] = static_cast<float>(c.Getd()[i]);
  for (int i = 0; i < 9; ++i) m.K[i] = static_cast<float>(c.GetK()[i]);
  for (int i = 0; i < 9; ++i) m.R[i] = static_cast<float>(c.GetR()[i]);
  for (int i = 0; i < 3; ++i) m.T[i] = static_cast<float>(c.GetT()[i]);
  m.width = static_cast<float>(c.GetWidth());
  m.height = static_cast<float>(c.GetHeight());
  return m;
}

class LensModel : public ::testing::TestWithParam<DistortionSet> {
 protected:
  // A posed camera with the parameter's distortion (k3 included).
  CCamera MakeCamera(double skew = 0) const {
    double R[9];
    PosedR(R);
    double K[9];
    std::copy(kPosedK, kPosedK + 9, K);
    K[1] = skew;
    CCamera c(K, GetParam().d, R, kPosedT, 640, 480);
    c.Setd(GetParam().d);
    return c;
  }
  static void CameraCoordinates(const CCamera& c, const double* X, double* p) {
    const double* R = c.GetR();
    for (int i = 0; i < 3; ++i) p[i] = R[3 * i] * X[0] + R[3 * i + 1] * X[1] + R[3 * i + 2] * X[2] + c.GetT()[i];
  }
};

TEST_P(LensModel, RetinalPlaneInvertsProjection) {
  const CCamera c = MakeCamera();
  for (const auto& X : kWorldPoints) {
    double u, v, p[3];
    c.GetPoint(X[0], X[1], X[2], &u, &v);
    CameraCoordinates(c, X, p);
    const float pixel[2] = {static_cast<float>(u), static_cast<float>(v)};
    float n[2];
    c.GetPointOnRetinalPlane(pixel, n);
    EXPECT_NEAR(n[0], p[0] / p[2], 2e-6) << GetParam().name;
    EXPECT_NEAR(n[1], p[1] / p[2], 2e-6) << GetParam().name;
  }
}

TEST_P(LensModel, MvgProjectionMatchesCCameraAndNormalisationInvertsIt) {
  const CCamera c = MakeCamera(0.003);
  const MVG::Camera m = ToMvg(c);
  for (const auto& X : kWorldPoints) {
    double u, v, p[3];
    c.GetPoint(X[0], X[1], X[2], &u, &v);
    CameraCoordinates(c, X, p);
    const float Xf[3] = {static_cast<float>(X[0]), static_cast<float>(X[1]), static_cast<float>(X[2])};
    float pixel[2];
    EXPECT_EQ(MVG::PrjPoint3D(Xf, pixel, &m), 1);
    EXPECT_NEAR(pixel[0], u, 2e-3) << GetParam().name;
    EXPECT_NEAR(pixel[1], v, 2e-3) << GetParam().name;
    float n[2];
    MVG::NormalizePoint(pixel, n, &m);
    EXPECT_NEAR(n[0], p[0] / p[2], 1e-5) << GetParam().name;
    EXPECT_NEAR(n[1], p[1] / p[2], 1e-5) << GetParam().name;
  }
  // The n-point form projects the same, without a visibility answer.
  float Xs[6 * 3], many[6 * 2];
  for (int i = 0; i < 6; ++i)
    for (int k = 0; k < 3; ++k) Xs[3 * i + k] = static_cast<float>(kWorldPoints[i][k]);
  EXPECT_EQ(MVG::PrjPoint3D(Xs, many, &m, 6), 0);
  for (int i = 0; i < 6; ++i) {
    float one[2];
    MVG::PrjPoint3D(Xs + 3 * i, one, &m);
    EXPECT_EQ(many[2 * i], one[0]);
    EXPECT_EQ(many[2 * i + 1], one[1]);
  }
}

TEST_P(LensModel, UndistortPointGivesThePinholePixelWithSkew) {
  const double skew = 0.01;
  const CCamera c = MakeCamera(skew);
  const MVG::Camera m = ToMvg(c);
  for (const auto& X : kWorldPoints) {
    double u, v, p[3];
    c.GetPoint(X[0], X[1], X[2], &u, &v);
    CameraCoordinates(c, X, p);
    const double x = p[0] / p[2], y = p[1] / p[2];
    const float pixel[2] = {static_cast<float>(u), static_cast<float>(v)};
    float out[2];
    MVG::UndistortPoint(pixel, out, m.K, m.d);
    EXPECT_NEAR(out[0], kPosedK[0] * (x + skew * y) + kPosedK[2], 1e-2) << GetParam().name;
    EXPECT_NEAR(out[1], kPosedK[4] * y + kPosedK[5], 1e-2) << GetParam().name;
  }
}

INSTANTIATE_TEST_SUITE_P(DistortionSets, LensModel, ::testing::ValuesIn(kDistortionSets),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LensModelClosedForm, ZeroDistortionWithSkewIsExact) {
  const double K[9] = {812.5, 0.037, 331.25, 0, 798.0, 243.5, 0, 0, 1};
  const double zero[5] = {};
  const double I[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  CCamera c(K, zero, I, zero, 640, 480);
  MVG::Camera m = ToMvg(c);
  const float pixels[][2] = {{0, 0}, {100.25f, 400.5f}, {639, 479}, {331.25f, 243.5f}, {-20, 700}};
  for (const auto& px : pixels) {
    float n[2];
    c.GetPointOnRetinalPlane(px, n);
    const double yd = (px[1] - K[5]) / K[4];
    EXPECT_EQ(n[0], static_cast<float>((px[0] - K[2]) / K[0] - K[1] * yd));
    EXPECT_EQ(n[1], static_cast<float>(yd));
    float nm[2];
    MVG::NormalizePoint(px, nm, &m);
    const float ydf = (px[1] - m.K[5]) / m.K[4];
    EXPECT_EQ(nm[0], (px[0] - m.K[2]) / m.K[0] - m.K[1] * ydf);
    EXPECT_EQ(nm[1], ydf);
    // A null d removes no distortion.
    float nn[2];
    MVG::NormalizePoint(px, nn, m.K, nullptr);
    EXPECT_EQ(nn[0], nm[0]);
    EXPECT_EQ(nn[1], nm[1]);
  }
}

}  // namespace
