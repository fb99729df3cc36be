#include <gtest/gtest.h>

#include <cmath>
#include <opencv2/calib3d.hpp>
#include <vector>

#include "MVG/camera.h"
#include "MVG/mvg_camera.h"
#include "MVG/weights_index_map.h"
#include "warp_image.h"

namespace {

using warp_image::Image;

void Rotation(double rx, double ry, double rz, float* R) {
  double r[3] = {rx, ry, rz};
  cv::Mat m;
  cv::Rodrigues(cv::Mat(3, 1, CV_64F, r), m);
  for (int i = 0; i < 9; ++i) R[i] = static_cast<float>(m.at<double>(i / 3, i % 3));
}

void MatVec(const float* A, const float* v, float* out) {
  for (int i = 0; i < 3; ++i) out[i] = A[3 * i] * v[0] + A[3 * i + 1] * v[1] + A[3 * i + 2] * v[2];
}

struct Rig {
  const char* name;
  float T[3];
  double om[3];
  bool horizontal;
};

void PrintTo(const Rig& rig, std::ostream* os) { *os << rig.name; }

const Rig kRigs[] = {
    {"horizontal", {-0.6f, 0.02f, 0.015f}, {0.01, 0.06, -0.02}, true},
    {"horizontal_leftward", {0.55f, -0.03f, 0.01f}, {-0.02, -0.05, 0.015}, true},
    {"vertical", {0.02f, -0.5f, 0.01f}, {0.04, 0.01, 0.03}, false},
    {"pure_baseline", {-0.5f, 0, 0}, {0, 0, 0}, true},  // t x e is zero
};

class Rectification : public ::testing::TestWithParam<Rig> {
 protected:
  void SetUp() override {
    pair_[0] = MVG::CameraAtOrigin(820, 815, 318.5f, 244.2f, 640, 480);
    pair_[1] = MVG::CameraAtOrigin(805, 801, 325.1f, 236.8f, 640, 480);
    const float d0[5] = {-0.21f, 0.07f, 0.0008f, -0.0005f, 0};
    const float d1[5] = {-0.18f, 0.05f, -0.0004f, 0.0007f, 0};
    std::copy(d0, d0 + 5, pair_[0].d);
    std::copy(d1, d1 + 5, pair_[1].d);
    Rotation(GetParam().om[0], GetParam().om[1], GetParam().om[2], pair_[1].R);
    std::copy(GetParam().T, GetParam().T + 3, pair_[1].T);
    ASSERT_EQ(MVG::ComputeRectifiedCameras(pair_, rect_), 0);
  }
  // The rectified pixel of a point given in camera i's own coordinates.
  void RectifiedPixel(int i, const float* X, float* out) const {
    MVG::Camera c = rect_[i];
    std::fill(c.T, c.T + 3, 0.0f);
    MVG::PrjPoint3D(X, out, &c);
  }
  MVG::Camera pair_[2], rect_[2];
};

TEST_P(Rectification, RelativeRotationIsIdentityAndBaselineLiesOnTheAxis) {
  // Relative rotation of the rectified pair: Rr2 R Rr1^T.
  const float* R1 = rect_[0].R;
  float M[9];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      float s = 0;
      for (int k = 0; k < 3; ++k)
        for (int l = 0; l < 3; ++l) s += rect_[1].R[3 * i + k] * pair_[1].R[3 * k + l] * R1[3 * j + l];
      M[3 * i + j] = s;
    }
  for (int i = 0; i < 9; ++i) EXPECT_NEAR(M[i], i % 4 == 0 ? 1 : 0, 2e-6) << i;
  const float* T = rect_[1].T;
  const float length = std::sqrt(GetParam().T[0] * GetParam().T[0] + GetParam().T[1] * GetParam().T[1] +
                                 GetParam().T[2] * GetParam().T[2]);
  const int axis = GetParam().horizontal ? 0 : 1;
  EXPECT_NEAR(std::fabs(T[axis]), length, 1e-5);
  for (int k = 0; k < 3; ++k) {
    if (k != axis) {
      EXPECT_NEAR(T[k], 0, 1e-5 * length) << k;
    }
  }
  for (int i = 0; i < 3; ++i) EXPECT_EQ(rect_[0].T[i], 0);
}

TEST_P(Rectification, SharedIntrinsicsAndAlignedRowsOrColumns) {
  EXPECT_EQ(rect_[0].K[4], rect_[1].K[4]);
  EXPECT_EQ(rect_[0].K[0], 2 * rect_[0].K[4]);
  EXPECT_EQ(rect_[1].K[0], 2 * rect_[1].K[4]);
  if (GetParam().horizontal)
    EXPECT_EQ(rect_[0].K[5], rect_[1].K[5]);
  else
    EXPECT_EQ(rect_[0].K[2], rect_[1].K[2]);
  for (const MVG::Camera& r : rect_) {
    EXPECT_EQ(r.K[8], 1);
    EXPECT_EQ(r.width, 640);
    for (float d : r.d) EXPECT_EQ(d, 0);
  }
  // The smaller focal length, shortened for barrel distortion.
  const float f1 = 801 * (1 - 0.18f * (640 * 640 + 480 * 480) / (4 * 801.0f * 801.0f));
  const float f0 = 815 * (1 - 0.21f * (640 * 640 + 480 * 480) / (4 * 815.0f * 815.0f));
  EXPECT_FLOAT_EQ(rect_[0].K[4], std::min(f0, f1));

  const float world[][3] = {{0.3f, -0.2f, 3}, {-0.8f, 0.5f, 5}, {0.1f, 0.9f, 4}, {0, 0, 2}};
  for (const auto& X : world) {
    float X2[3], p0[2], p1[2];
    MatVec(pair_[1].R, X, X2);
    for (int k = 0; k < 3; ++k) X2[k] += pair_[1].T[k];
    RectifiedPixel(0, X, p0);
    RectifiedPixel(1, X2, p1);
    if (GetParam().horizontal)
      EXPECT_NEAR(p0[1], p1[1], 2e-3);
    else
      EXPECT_NEAR(p0[0], p1[0], 2e-3);
  }
}

TEST_P(Rectification, WarpMapsSampleWhereTheRectifiedRayMeetsTheImage) {
  const int W = 640, H = 480;
  std::vector<int> maps[2] = {std::vector<int>(W * H * 5, -3), std::vector<int>(W * H * 5, -3)};
  int* m[2] = {maps[0].data(), maps[1].data()};
  ASSERT_EQ(MVG::ComputeWarpMapCoefficients(pair_, rect_, m), 0);
  for (int i = 0; i < 2; ++i) {
    long inside = 0;
    for (size_t p = 0; p < static_cast<size_t>(W) * H; ++p) {
      const int* e = &maps[i][5 * p];
      const int sum = e[1] + e[2] + e[3] + e[4];
      // Weights of a floored position stay in [0, 32768] and sum to it,
      // less at most 4 for the truncations.
      for (int k = 1; k <= 4; ++k) ASSERT_TRUE(e[k] >= 0 && e[k] <= 32768) << i << " " << p;
      if (sum == 0) {
        ASSERT_EQ(e[0], 0);
        continue;
      }
      ++inside;
      ASSERT_GE(sum, 32764);
      ASSERT_EQ(e[0] % 3, 0);
    }
    EXPECT_GT(inside, W * H / 2);

    // Hand-computed: the ray of rectified pixel (x, y) in camera i's frame,
    // projected with its lens by CCamera.
    double K[9], d[5], I[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1}, T[3] = {0, 0, 0};
    for (int k = 0; k < 9; ++k) K[k] = pair_[i].K[k];
    for (int k = 0; k < 5; ++k) d[k] = pair_[i].d[k];
    CCamera lens(K, d, I, T, W, H);
    const MVG::Camera& r = rect_[i];
    const int probes[][2] = {{320, 240}, {100, 50}, {600, 420}};
    for (const auto& px : probes) {
      const double n[3] = {(px[0] - r.K[2]) / r.K[0], (px[1] - r.K[5]) / r.K[4], 1};
      double q[3];
      for (int k = 0; k < 3; ++k) q[k] = r.R[k] * n[0] + r.R[3 + k] * n[1] + r.R[6 + k] * n[2];
      double u, v;
      lens.GetPoint(q[0], q[1], q[2], &u, &v);
      const int* e = &maps[i][5 * (px[1] * W + px[0])];
      ASSERT_GT(e[1] + e[2] + e[3] + e[4], 0);
      const int pixel = e[0] / 3;
      EXPECT_NEAR(pixel % W + (e[3] + e[4]) / 32768.0, u, 2e-3);
      EXPECT_NEAR(pixel / W + (e[2] + e[4]) / 32768.0, v, 2e-3);
    }

    // A white image comes out white or black, never a wrapped grey.
    Image white(W, H, 3, W * 3, 255), out(W, H, 3, W * 3, 77);
    IP::WarpByWeightsIndex(&white.header, &out.header, maps[i].data());
    for (unsigned char b : out.data) ASSERT_TRUE(b == 0 || b >= 254) << int(b);
  }
}

INSTANTIATE_TEST_SUITE_P(Rigs, Rectification, ::testing::ValuesIn(kRigs),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
