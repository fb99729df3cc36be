#include "MVG/mvg_camera.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <opencv2/calib3d.hpp>
#include <string>
#include <vector>

#include "camera_fixtures.h"
#include "win/messagebox.h"

namespace {

using namespace camera_fixtures;

bool SameBytes(const MVG::Camera& a, const MVG::Camera& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

MVG::Camera Filled(float value) {
  MVG::Camera c;
  float* f = reinterpret_cast<float*>(&c);
  for (size_t i = 0; i < sizeof c / sizeof(float); ++i) f[i] = value + static_cast<float>(i);
  return c;
}

TEST(MvgRecord, ConstructionAndProjectionMatrix) {
  static_assert(sizeof(MVG::Camera) == 28 * sizeof(float));
  const MVG::Camera c = MVG::CameraAtOrigin(500, 510, 320.5f, 240.5f, 640, 480);
  const float K[9] = {500, 0, 320.5f, 0, 510, 240.5f, 0, 0, 1};
  const float I[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  for (int i = 0; i < 9; ++i) {
    EXPECT_EQ(c.K[i], K[i]);
    EXPECT_EQ(c.R[i], I[i]);
  }
  for (int i = 0; i < 5; ++i) EXPECT_EQ(c.d[i], 0);
  EXPECT_EQ(c.width, 640);
  EXPECT_EQ(c.height, 480);

  MVG::Camera posed = Filled(1);
  double R[9];
  PosedR(R);
  MVG::SetCameraRotationMatrix(&posed, R);
  EXPECT_EQ(posed.R[5], static_cast<float>(R[5]));
  const MVG::Camera origin = MVG::GetCameraAtOrigin(&posed);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(origin.R[i], I[i]);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(origin.T[i], 0);
  EXPECT_EQ(origin.K[4], posed.K[4]);

  MVG::Camera p = c;
  MVG::SetCameraRotationMatrix(&p, posed.R);
  const float T[3] = {0.5f, -1, 4};
  std::copy(T, T + 3, p.T);
  float P[12];
  MVG::MakePrjMat(&p, P);
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j)
      EXPECT_NEAR(P[4 * i + j], K[3 * i] * p.R[j] + K[3 * i + 1] * p.R[3 + j] + K[3 * i + 2] * p.R[6 + j], 1e-3);
    EXPECT_NEAR(P[4 * i + 3], K[3 * i] * T[0] + K[3 * i + 1] * T[1] + K[3 * i + 2] * T[2], 1e-3);
  }
}

TEST(MvgPrjPoint3D, VisibilityIsStrictlyInsideAndInFront) {
  // f = (100, 80), centre (50, 40), image 100 x 80: the edges fall on
  // exactly representable values.
  const MVG::Camera c = MVG::CameraAtOrigin(100, 80, 50, 40, 100, 80);
  struct Case {
    const char* name;
    float X[3];
    int visible;
  } cases[] = {
      {"u_zero", {-0.5f, 0, 1}, 0},    {"u_width", {0.5f, 0, 1}, 0},  {"inside", {0.1f, -0.2f, 1}, 1},
      {"v_zero", {0, -0.5f, 1}, 0},    {"v_height", {0, 0.5f, 1}, 0}, {"just_inside", {-0.499f, 0.499f, 1}, 1},
      {"behind", {0.1f, 0.1f, -2}, 0},
  };
  for (const Case& k : cases) {
    float out[2];
    EXPECT_EQ(MVG::PrjPoint3D(k.X, out, &c), k.visible) << k.name;
  }
  float out[2];
  const float behind[3] = {0.1f, 0.1f, -2};
  MVG::PrjPoint3D(behind, out, &c);
  EXPECT_FLOAT_EQ(out[0], 45);  // projected all the same, inside the image
  EXPECT_FLOAT_EQ(out[1], 36);
}

TEST(MvgReprojectionError, MeanPixelDistance) {
  MVG::Camera c = MVG::CameraAtOrigin(800, 800, 320, 240, 640, 480);
  c.d[0] = -0.2f;
  CvPoint3D32f X[3] = {{0, 0, 2}, {0.3f, 0.1f, 3}, {-0.2f, 0.25f, 2.5f}};
  CvPoint2D32f x[3];
  for (int i = 0; i < 3; ++i) {
    const float p[3] = {X[i].x, X[i].y, X[i].z};
    float out[2];
    MVG::PrjPoint3D(p, out, &c);
    x[i] = cvPoint2D32f(out[0], out[1]);
  }
  EXPECT_FLOAT_EQ(MVG::GetReprojectionError(&c, X, x, 3), 0);
  for (CvPoint2D32f& p : x) {
    p.x += 3;
    p.y -= 4;
  }
  EXPECT_NEAR(MVG::GetReprojectionError(&c, X, x, 3), 5, 1e-4);
  EXPECT_TRUE(std::isnan(MVG::GetReprojectionError(&c, X, x, 0)));
}

TEST(MvgRodrigues, RoundTripFromSmallAnglesToNearPi) {
  const double pi = 3.14159265358979;
  const double angles[] = {1e-4, 0.01, pi / 2, pi - 1e-2};
  for (double angle : angles) {
    const float axis[3] = {0.48f, -0.6f, 0.64f};  // unit
    vnl_float_3 r(axis[0] * angle, axis[1] * angle, axis[2] * angle);
    vnl_matrix_fixed<float, 3, 3> R(0.0f);
    MVG::Rodrigues(R, r, 1);
    // Against OpenCV's conversion.
    cv::Mat expected;
    cv::Rodrigues(cv::Mat(3, 1, CV_32F, r.data_block()).clone(), expected);
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) EXPECT_NEAR(R(i, j), expected.at<float>(i, j), 1e-6) << angle;
    vnl_float_3 back(0, 0, 0);
    MVG::Rodrigues(R, back, 0);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(back[i], axis[i] * angle, 2e-4 + 1e-5 * angle) << angle;
  }
}

// ---- camera files ----

class MvgFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = TempFolder();
    previous_ =
        win::SetMessageBoxHandler([this](HWND owner, const std::string& text, const std::string& caption, UINT type) {
          boxes_.push_back(text + "|" + caption + "|" + std::to_string(type) + (owner ? "|owned" : ""));
          return IDOK;
        });
  }
  void TearDown() override { win::SetMessageBoxHandler(previous_); }
  std::string Write(const char* name, const std::string& text) {
    Spit(dir_ + name, text);
    return dir_ + name;
  }
  std::string dir_;
  std::vector<std::string> boxes_;
  win::MessageBoxHandler previous_;
};

const char* const kTwoCameras =
    "2\n"
    "800 0 320 0 805 240 0 0 1\n-0.25 0.08 0.001 -0.002\n"
    "790 0 330 0 795 235 0 0 1\n-0.2 0.05 0.0005 0.001\n"
    "0.999 0 -0.04 0 1 0 0.04 0 0.999\n-60 0.5 1.5\n"
    "640 480\n";

TEST_F(MvgFiles, LoadCamerasReadsOneAndTwoCameraFiles) {
  MVG::Camera pair[2] = {Filled(100), Filled(200)};
  ASSERT_TRUE(MVG::LoadCameras(Write("two.txt", kTwoCameras).c_str(), pair));
  EXPECT_EQ(pair[0].K[0], 800);
  EXPECT_EQ(pair[0].K[4], 805);
  EXPECT_EQ(pair[0].d[3], -0.002f);
  EXPECT_EQ(pair[1].K[2], 330);
  EXPECT_EQ(pair[1].d[0], -0.2f);
  EXPECT_EQ(pair[0].d[4], 0);  // k3 is not in the file
  EXPECT_EQ(pair[1].d[4], 0);
  const float I[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  for (int i = 0; i < 9; ++i) EXPECT_EQ(pair[0].R[i], I[i]);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(pair[0].T[i], 0);
  EXPECT_EQ(pair[1].R[2], -0.04f);
  EXPECT_EQ(pair[1].T[0], -60);
  for (const MVG::Camera& c : pair) {
    EXPECT_EQ(c.width, 640);
    EXPECT_EQ(c.height, 480);
  }

  // CR LF line ends, as the old platform wrote them, and one camera.
  MVG::Camera one[2] = {Filled(100), Filled(200)};
  const MVG::Camera secondBefore = one[1];
  ASSERT_TRUE(
      MVG::LoadCameras(Write("one.txt", "1\r\n700 0 300 0 700 200 0 0 1\r\n0.1 0.01 0 0\r\n320 240\r\n").c_str(), one));
  EXPECT_EQ(one[0].K[5], 200);
  EXPECT_EQ(one[0].d[4], 0);
  EXPECT_EQ(one[1].width, 320);  // the second record gets the size too
  EXPECT_EQ(one[1].height, 240);
  EXPECT_EQ(one[1].K[0], secondBefore.K[0]);  // and nothing else
  EXPECT_EQ(one[1].T[2], secondBefore.T[2]);
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(MvgFiles, OldFormPathsAreMapped) {
  Write("old.txt", kTwoCameras);
  setenv("QUORL_DRIVE_Q", dir_.c_str(), 1);
  MVG::Camera pair[2] = {Filled(100), Filled(200)};
  EXPECT_TRUE(MVG::LoadCameras("Q:\\old.txt", pair));
  EXPECT_TRUE(MVG::SaveCamera("Q:\\report.txt", pair[1]));
  unsetenv("QUORL_DRIVE_Q");
  EXPECT_EQ(pair[1].T[0], -60);
  EXPECT_EQ(Slurp(dir_ + "report.txt").substr(0, 18), "Intrinsic Matrix:\n");
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(MvgFiles, LoadMultiCamerasReadsPosesAndCopiesTheSize) {
  const std::string text =
      "2\n800 0 320 0 805 240 0 0 1 -0.25 0.08 0.001 -0.002 1 0 0 0 1 0 0 0 1 0 0 0\n"
      "790 0 330 0 795 235 0 0 1 -0.2 0.05 0.0005 0.001 0 -1 0 1 0 0 0 0 1 10 20 30\n1280 720\n";
  MVG::Camera cameras[3] = {Filled(100), Filled(200), Filled(300)};
  const MVG::Camera guard = cameras[2];
  ASSERT_TRUE(MVG::LoadMultiCameras(Write("multi.txt", text).c_str(), cameras, 3));
  EXPECT_EQ(cameras[1].R[1], -1);
  EXPECT_EQ(cameras[1].T[2], 30);
  EXPECT_EQ(cameras[1].d[4], 0);
  EXPECT_EQ(cameras[1].width, 1280);
  EXPECT_EQ(cameras[1].height, 720);
  EXPECT_TRUE(SameBytes(cameras[2], guard));
}

TEST_F(MvgFiles, BadCountsAndContentChangeNothing) {
  struct Case {
    const char* name;
    std::string text;
  } cases[] = {
      {"zero", "0\n640 480\n"},
      {"negative", "-1\n640 480\n"},
      {"above_capacity", std::string("3\n") + (kTwoCameras + 2)},
      {"short", "2\n800 0 320 0 805 240 0 0 1\n-0.25 0.08\n"},
      {"text", "2\nfocal 800\n"},
      {"not_a_number", std::string(kTwoCameras).replace(4, 1, "nan")},
      // Reals are decimal; a size is a pixel count that must fit an int.
      {"hex_float", std::string(kTwoCameras).replace(2, 3, "0x1.9p9")},
      {"number_into_text", std::string(kTwoCameras).replace(2, 3, "800px")},
      {"negative_width", std::string(kTwoCameras).replace(std::string(kTwoCameras).find("640 480"), 3, "-640")},
      {"height_beyond_an_int", std::string(kTwoCameras).replace(std::string(kTwoCameras).find("480"), 3, "3e9")},
      {"no_count", ""},
  };
  for (const Case& c : cases) {
    const std::string path = Write(c.name, c.text);
    MVG::Camera cameras[3] = {Filled(100), Filled(200), Filled(300)};
    const MVG::Camera before[3] = {cameras[0], cameras[1], cameras[2]};
    EXPECT_FALSE(MVG::LoadCameras(path.c_str(), cameras)) << c.name;
    EXPECT_FALSE(MVG::LoadMultiCameras(path.c_str(), cameras, 2)) << c.name;
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(SameBytes(cameras[i], before[i])) << c.name << " " << i;
  }
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(MvgFiles, UnopenablePathsAreReportedAndEmptyOnesAreNot) {
  MVG::Camera cameras[2] = {Filled(100), Filled(200)};
  const std::string missing = dir_ + "no/such/file.txt";
  EXPECT_FALSE(MVG::LoadCameras(missing.c_str(), cameras));
  EXPECT_FALSE(MVG::LoadMultiCameras(missing.c_str(), cameras, 2));
  EXPECT_FALSE(MVG::SaveCamera(missing.c_str(), cameras[0]));
  const std::string expected = "Can't open file|Save camera parameters|" + std::to_string(MB_OK | MB_ICONERROR);
  EXPECT_EQ(boxes_, std::vector<std::string>(3, expected));
  boxes_.clear();
  EXPECT_FALSE(MVG::LoadCameras("", cameras));
  EXPECT_FALSE(MVG::LoadMultiCameras("", cameras, 2));
  EXPECT_FALSE(MVG::SaveCamera("", cameras[0]));
  EXPECT_TRUE(boxes_.empty());
  EXPECT_TRUE(SameBytes(cameras[0], Filled(100)));
}

TEST_F(MvgFiles, SaveCameraWritesTheReport) {
  MVG::Camera c = MVG::CameraAtOrigin(800.5f, 805.25f, 320, 240, 640, 480);
  const float d[5] = {-0.25f, 0.125f, 0.001f, -0.002f, 0};
  std::copy(d, d + 5, c.d);
  c.T[0] = -60.5f;
  c.T[2] = 1.5f;
  CommaLocaleScope locale;  // the report is written in the C locale regardless
  ASSERT_TRUE(MVG::SaveCamera((dir_ + "report.txt").c_str(), c));
  EXPECT_EQ(Slurp(dir_ + "report.txt"),
            "Intrinsic Matrix:\n800.50000 0.00000 320.00000 \n0.00000 805.25000 240.00000 \n0.00000 0.00000 1.00000 \n"
            "Distortion Coefficients:\n-0.25000 0.12500 0.00100 -0.00200 0.00000 \n"
            "Rotation Matrix:\n1.00000 0.00000 0.00000 \n0.00000 1.00000 0.00000 \n0.00000 0.00000 1.00000 \n"
            "Translation Vector:\n-60.50000 0.00000 1.50000 ");
}

TEST_F(MvgFiles, CommaDecimalLocaleReadsCLocaleFiles) {
  const std::string path = Write("two_c.txt", kTwoCameras);
  CommaLocaleScope locale;
  if (!locale.active) GTEST_SKIP() << "no comma-decimal locale can be built here";
  MVG::Camera pair[2] = {Filled(100), Filled(200)};
  ASSERT_TRUE(MVG::LoadCameras(path.c_str(), pair));
  EXPECT_EQ(pair[0].d[0], -0.25f);
  EXPECT_EQ(pair[1].R[0], 0.999f);
}

}  // namespace
